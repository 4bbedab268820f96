"""A small generated speech corpus, impulse responses and noise, and a random
stream that records every call made on it, for the training-stream tests and
the benchmark."""
import os
import random
import types

import numpy as np
import soundfile as sf

RATE = 16000


def write_tone_speech(path, seconds, rate, seed):
    """Noise-like speech stand-in: band-limited noise under a slow envelope,
    never exactly zero, so crops and windows can be found back by value."""
    gen = np.random.default_rng(seed)
    n = int(round(seconds * rate))
    t = np.arange(n) / rate
    envelope = 0.3 + 0.2 * np.sin(2 * np.pi * 1.5 * t + seed)
    signal = (envelope * gen.standard_normal(n) * 0.1).astype(np.float32)
    signal[signal == 0] = 1e-4
    os.makedirs(os.path.dirname(path), exist_ok=True)
    sf.write(path, signal, rate, subtype="FLOAT")
    return path


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
            path = os.path.join(root, "rirs", "smallroom", f"room{r}", f"rir{f}.wav")
            os.makedirs(os.path.dirname(path), exist_ok=True)
            sf.write(path, h, RATE, subtype="FLOAT")
            files.append(path)
        rir_map["smallroom"][f"room{r}"] = files
    return rir_map


def make_noises(root, seconds=(1.3, 0.6)):
    gen = np.random.default_rng(11)
    paths = []
    for i, s in enumerate(seconds):
        path = os.path.join(root, "noises", f"noise{i}.wav")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        sf.write(path, (0.05 * gen.standard_normal(int(s * RATE))).astype(np.float32), RATE, subtype="FLOAT")
        paths.append(path)
    return paths


class RecordingRandom(random.Random):
    """random.Random that logs each outermost call (stream, method, arguments,
    result) in one shared list; calls a method makes on itself internally
    (randint through randrange, ...) are not logged again."""

    log = None
    created = None

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


def recording_random_module():
    """A stand-in of the random module whose Random records; fresh log."""
    RecordingRandom.log = []
    RecordingRandom.created = []
    return types.SimpleNamespace(Random=RecordingRandom)
