"""A small generated speech corpus, impulse responses and noise, and a random
stream that records every call made on it, for the training-stream tests and
the benchmark."""
import os
import random
import types

import numpy as np
import soundfile as sf
import torch

import utility.blendkit as bk
from helpers import write_wav

RATE = 16000


def write_tone_speech(path, seconds, rate, seed, subtype="FLOAT", channels=1):
    """Noise-like speech stand-in: band-limited noise under a slow envelope,
    never exactly zero, so crops and windows can be found back by value."""
    gen = np.random.default_rng(seed)
    n = int(round(seconds * rate))
    t = np.arange(n) / rate
    envelope = 0.3 + 0.2 * np.sin(2 * np.pi * 1.5 * t + seed)
    signal = (envelope * gen.standard_normal(n) * 0.1).astype(np.float32)
    signal[signal == 0] = 1e-4
    if channels > 1:
        signal = np.stack([signal] + [np.roll(signal, c) for c in range(1, channels)], axis=1)
    return write_wav(path, signal, rate, subtype=subtype)


def make_corpus(root, speakers=5, files_per_speaker=3, seconds=(0.35, 0.5, 0.3), rates=(RATE,)):
    """speakers_map of `speakers` speakers, files of the given lengths; the
    rate of speaker k is rates[k % len(rates)]."""
    mapping = {}
    for k in range(speakers):
        files = []
        for u in range(files_per_speaker):
            path = os.path.join(root, "speech", f"spk{k}", f"utt{u}.wav")
            write_tone_speech(path, seconds[u % len(seconds)], rates[k % len(rates)], seed=100 * k + u)
            files.append(path)
        mapping[f"libri_{k}"] = files
    return mapping


def make_rirs(root, rooms=2, files_per_room=3, length=400):
    gen = np.random.default_rng(7)
    rir_map = {"smallroom": {}}
    for r in range(rooms):
        files = []
        for f in range(files_per_room):
            h = np.zeros(length, np.float32)
            h[0] = 1.0
            h[5:] = 0.2 * gen.standard_normal(length - 5) * np.exp(-np.arange(length - 5) / 60.0)
            files.append(write_wav(os.path.join(root, "rirs", "smallroom", f"room{r}", f"rir{f}.wav"), h, RATE,
                                   subtype="FLOAT"))
        rir_map["smallroom"][f"room{r}"] = files
    return rir_map


def make_noises(root, seconds=(1.3, 0.6)):
    gen = np.random.default_rng(11)
    paths = []
    for i, s in enumerate(seconds):
        noise = (0.05 * gen.standard_normal(int(s * RATE))).astype(np.float32)
        paths.append(write_wav(os.path.join(root, "noises", f"noise{i}.wav"), noise, RATE, subtype="FLOAT"))
    return paths


def make_sound_corpus(root):
    """A corpus without a single bad file or silent stretch: utterances longer
    than a 0.25 s segment at 16, 8 and 22.05 kHz, float and 16-bit, one
    speaker in stereo; impulse responses at the stream's rate, at 8 kHz and
    in stereo; noises shorter and longer than a segment, one at 8 kHz."""
    speakers = {}
    rates = (16000, 8000, 22050)
    for k in range(6):
        files = []
        for u, seconds in enumerate((0.35, 0.5, 0.3)):
            path = os.path.join(root, "speech", f"spk{k}", f"utt{u}.wav")
            write_tone_speech(path, seconds, rates[k % 3], seed=100 * k + u,
                              subtype="PCM_16" if (k + u) % 2 else "FLOAT", channels=2 if k == 5 else 1)
            files.append(path)
        speakers[f"libri_{k}"] = files
    rir_map = make_rirs(root)
    gen = np.random.default_rng(13)
    odd_room = []
    for name, rate, channels in (("low.wav", 8000, 1), ("stereo.wav", RATE, 2)):
        h = np.zeros((300, channels), np.float32)
        h[0] = 1.0
        h[3:] = 0.3 * gen.standard_normal((297, channels)) * np.exp(-np.arange(297) / 40.0)[:, None]
        odd_room.append(write_wav(os.path.join(root, "rirs", "mediumroom", "odd", name), h, rate, subtype="FLOAT"))
    rir_map["mediumroom"] = {"odd": odd_room}
    noises = make_noises(root)
    low = os.path.join(root, "noises", "low.wav")
    sf.write(low, (0.05 * gen.standard_normal(8000)).astype(np.float32), 8000, subtype="PCM_16")
    return speakers, rir_map, noises + [low]


# Streams over the sound corpus whose batches are recorded in
# blendkit_sound_stream.json: (dataset options, batch size, shard or None).
SOUND_STREAMS = {
    "defaults": (dict(seed=3, samples_per_epoch=16), 2, None),
    "target_reference": (dict(seed=11, samples_per_epoch=12, speaker_count_probs={2: 0.5, 3: 0.5},
                              snr_reference="target", overlap_range=(0.3, 0.8), apply_rir_prob=1.0,
                              apply_noise_prob=1.0), 3, None),
    "one_and_four": (dict(seed=0, samples_per_epoch=12, speaker_count_probs={1: 0.3, 4: 0.7},
                          apply_rir_prob=0.5, apply_noise_prob=0.5), 2, None),
    "second_shard": (dict(seed=5, samples_per_epoch=16), 2, (1, 2)),
}


def sound_stream(speakers, rir_map, noises, name, epoch=0):
    """The named stream's dataset, ready to iterate."""
    options, batch_size, shard = SOUND_STREAMS[name]
    ds = bk.IterableSeparationDataset(speakers_map=speakers, rir_map=rir_map, noise_files=noises,
                                      segment_seconds=0.25, **options)
    ds.batch_size = batch_size
    if shard is not None:
        ds._get_shard_info = lambda: shard
    ds.set_epoch(epoch)
    return ds


def batch_summary(batch, root):
    """What a batch drew, exactly, and per signal its sum, sum of squares and
    index-weighted sum: enough to tell any other crop, window, gain or draw."""
    def sums(x):
        x = x.double()
        w = torch.arange(x.shape[-1], dtype=torch.float64)
        return [float(x.sum()), float((x * x).sum()), float((x * w).sum())]

    def rel(p):
        return None if p is None else os.path.relpath(p, root)

    return {
        "source_ids": batch["source_ids"],
        "num_spk": batch["num_spk"],
        "sources_len": batch["sources_len"].tolist(),
        "mixture_len": batch["mixture_len"].tolist(),
        "paths": [{"sources": [rel(p) for p in q["sources"]],
                   "rir_used": None if q["rir_used"] is None else [rel(p) for p in q["rir_used"]],
                   "noise_path": rel(q["noise_path"]),
                   "rir_applied_batch": q["rir_applied_batch"],
                   "noise_applied_batch": q["noise_applied_batch"]} for q in batch["paths"]],
        "sources": [[sums(s) for s in sample] for sample in batch["sources"]],
        "mixture": [sums(m[0]) for m in batch["mixture"]],
    }


class RecordingRandom(random.Random):
    """random.Random that logs each outermost call (stream, method, arguments,
    result) in one shared list; calls a method makes on itself internally
    (randint through randrange, ...) are not logged again."""

    log = None
    created = None
    # Wrapping random() would make random.Random draw integers through it,
    # a sequence of its own; keep the integer draws of an unwrapped stream.
    _randbelow = random.Random._randbelow_with_getrandbits

    def __init__(self, seed=None):
        self._depth = 0
        super().__init__(seed)
        self.seed_value = seed
        RecordingRandom.created.append(self)

    def _logged(name):
        def method(self, *args, **kwargs):
            self._depth += 1
            try:
                result = getattr(random.Random, name)(self, *args, **kwargs)
            finally:
                self._depth -= 1
            if self._depth == 0:
                RecordingRandom.log.append((self, name, args, kwargs, result))
            return result

        method.__name__ = name
        return method

    for _name in ("random", "choice", "choices", "sample", "randrange", "randint", "uniform"):
        locals()[_name] = _logged(_name)
    del _name

    @property
    def calls(self):
        """This stream's own entries of the log, as (method, *arguments, result)."""
        return [(name, *args, *kwargs.values(), result) for stream, name, args, kwargs, result in RecordingRandom.log
                if stream is self]


def recording_random_module():
    """A stand-in of the random module whose Random records; fresh log."""
    RecordingRandom.log = []
    RecordingRandom.created = []
    return types.SimpleNamespace(Random=RecordingRandom)
