"""A corpus holding every kind of bad file a training run meets: the stream
over it, read by a loader with two workers, serves only finite batches in
which every labelled source carries signal, names every bad file in a
warning line, and never blocks on a named pipe. Each run is a child
interpreter with a deadline, so a regression fails instead of hanging."""
import json
import os
import re

import numpy as np
import pytest
import soundfile as sf

from blendkit_stream_fakes import write_tone_speech
from helpers import ROOT, launch, run_python, write_wav

RATE = 16000


def write(path, samples, rate, subtype="FLOAT"):
    return write_wav(path, np.asarray(samples, np.float32), rate, subtype=subtype)


def poisoned_speech(path, rate, value, at):
    write_tone_speech(path, 0.4, rate, seed=at)
    data, _ = sf.read(path, dtype="float32")
    data[at] = value
    return write(path, data, rate)


def impulse_response(path, seed):
    h = np.zeros(300, np.float32)
    h[0] = 1.0
    h[5:] = 0.2 * np.random.default_rng(seed).standard_normal(295) * np.exp(-np.arange(295) / 50.0)
    return write(path, h, RATE)


@pytest.fixture(scope="module")
def bad_corpus(tmp_path_factory):
    root = str(tmp_path_factory.mktemp("bad"))
    j = lambda *parts: os.path.join(root, *parts)  # noqa: E731
    for spk, rate in (("a", RATE), ("b", RATE), ("e", RATE), ("g", 8000), ("h", 8000)):
        corpus = "libri" if rate == RATE else "wsj0"
        for u in range(2):
            write_tone_speech(j(corpus, "train", spk, f"good{u}.wav"), 0.4, rate, seed=ord(spk) * 10 + u)
    bad = {
        "nan16": poisoned_speech(j("libri", "train", "b", "nan16.wav"), RATE, np.nan, 777),
        "inf8": poisoned_speech(j("wsj0", "train", "g", "inf8.wav"), 8000, np.inf, 555),
        "zero": write(j("libri", "train", "c", "zero.wav"), np.zeros(6400), RATE, "PCM_16"),
        "short": write_tone_speech(j("libri", "train", "d", "short0.wav"), 0.03, RATE, seed=1),
        "nan_rir": write(j("rirs", "smallroom", "bad", "nan_rir.wav"), [1.0, np.nan] + [0.1] * 50, RATE),
        "zero_rir": write(j("rirs", "smallroom", "bad", "zero_rir.wav"), np.zeros(60), RATE),
        "nan_noise": write(j("noises", "nan_noise.wav"), np.full(8000, np.nan), RATE),
    }
    write_tone_speech(j("libri", "train", "c", "good0.wav"), 0.4, RATE, seed=3)
    write_tone_speech(j("libri", "train", "d", "short1.wav"), 0.05, RATE, seed=2)
    for f in range(2):
        impulse_response(j("rirs", "smallroom", "good", f"rir{f}.wav"), f)
    write(j("noises", "hum.wav"), 0.05 * np.sin(np.arange(20000) / 7.0), RATE)
    # Named pipes with audio names in a speaker folder, in the room tree and
    # among the noise matches.
    pipes = [j("libri", "train", "e", "pipe.wav"), j("rirs", "smallroom", "bad", "pipe.wav"), j("noises", "pipe.wav")]
    for pipe in pipes:
        os.mkfifo(pipe)
    return root, bad, pipes


STREAM = """
import json, sys
import torch
sys.stdout.reconfigure(line_buffering=True)
import utility.blendkit as bk

root, extra_noise = sys.argv[1], sys.argv[2:]
rir_map = bk.collect_rir_hierarchy([root + "/rirs"])
noises = bk.collect_files([root + "/noises/*.wav"])
ds = bk.IterableSeparationDataset(speech_root=[root + "/libri", root + "/wsj0"], rir_map=rir_map,
                                  noise_files=noises + extra_noise, segment_seconds=0.25, samples_per_epoch=48,
                                  speaker_count_probs={1: 0.2, 2: 0.4, 3: 0.4}, apply_rir_prob=1.0,
                                  apply_noise_prob=1.0, overlap_range=(0.3, 0.6), seed=1)
ds.batch_size = 3
batches = list(torch.utils.data.DataLoader(ds, batch_size=None, num_workers=2, timeout=60))
silent = [(i, b, k) for i, batch in enumerate(batches) for b, n in enumerate(batch["num_spk"]) for k in range(n)
          if not (batch["sources"][b, k] != 0).any()]
print("SUMMARY " + json.dumps({
    "batches": len(batches),
    "finite": all(bool(torch.isfinite(x["sources"]).all() and torch.isfinite(x["mixture"]).all()) for x in batches),
    "silent": silent,
    "served": sorted({p for x in batches for q in x["paths"] for p in q["sources"]}),
    "indexed": sorted(p for files in ds.speakers.values() for p in files),
    "rirs": sorted(p for rooms in rir_map.values() for files in rooms.values() for p in files),
    "noises": noises,
}))
"""


def run_summarised(script, root, *argv):
    """The child's summary and its warning lines."""
    result = run_python(script, root, root, *argv, timeout=240)
    assert result.returncode == 0, result.stderr
    printed, summary = result.stdout.split("SUMMARY ")
    # Both workers print to one pipe, and a line's end may come after the
    # other worker's line: the warnings are told apart by their tag.
    assert not printed.strip() or printed.startswith("[Warning] ")
    warnings = ["[Warning] " + part.strip() for part in printed.split("[Warning] ")[1:]]
    return json.loads(summary), warnings


def run_stream(root, *extra_noise):
    summary, warnings = run_summarised(STREAM, root, *extra_noise)
    assert warnings
    return summary, warnings


def test_loader_with_two_workers_serves_only_sound_batches(bad_corpus):
    root, bad, pipes = bad_corpus
    summary, warnings = run_stream(root, pipes[2])
    # 48 samples over two workers, three to a batch: no batch ran out of
    # attempts, however many were refused.
    assert summary["batches"] == 16
    assert summary["finite"] and summary["silent"] == []
    assert not {bad["nan16"], bad["inf8"], bad["zero"]} & set(summary["served"])
    # The indexers keep regular files only; a pipe handed over directly is
    # refused when it is read.
    assert not set(pipes) & set(summary["indexed"] + summary["rirs"] + summary["noises"])
    expected = {
        "nan16": f"[Warning] non-finite audio {bad['nan16']}: frame 777 is nan",
        "inf8": f"[Warning] non-finite audio {bad['inf8']}: frame 555 is inf",
        "zero": f"[Warning] silent source {bad['zero']}: it carries no signal after placement",
        "short": f"[Warning] silent source {bad['short']}: it carries no signal after placement",
        "nan_rir": f"[Warning] non-finite RIR {bad['nan_rir']}: frame 1 is nan",
        "zero_rir": f"[Warning] silent RIR {bad['zero_rir']}: every sample is zero",
        "nan_noise": f"[Warning] non-finite noise {bad['nan_noise']}: the drawn segment's sample 0 is nan",
        "pipe": f"[Warning] sf.read failed for {pipes[2]}: Error opening '{pipes[2]}': Not a regular file.",
    }
    for name, line in expected.items():
        assert line in warnings, name
    # And nothing else: the other short utterance is the one more file that
    # may be placed in silence.
    short1 = os.path.join(os.path.dirname(bad["short"]), "short1.wav")
    allowed = set(expected.values()) | {f"[Warning] silent source {short1}: it carries no signal after placement"}
    assert set(warnings) <= allowed


def test_every_reader_refuses_a_pipe_at_once(bad_corpus, tmp_path):
    root, _, pipes = bad_corpus
    result = run_python("""
        import sys
        import utility.blendkit as bk
        pipe = sys.argv[1]
        print(bk._safe_sf_read(pipe)[0].size)
        print(bk._load_audio(pipe, 16000)[0].size)
        ds = bk.IterableSeparationDataset(speakers_map={"s": ["a.wav", "b.wav"]})
        print(ds._load_and_resample_rir(pipe).size)
        try:
            bk.ValidationDataset_1mix._read_wav_safe(object(), pipe)
        except Exception as error:
            print(type(error).__name__, error)
        """, str(tmp_path), pipes[1], timeout=60)
    assert result.returncode == 0, result.stderr
    refused = f"[Warning] sf.read failed for {pipes[1]}: Error opening '{pipes[1]}': Not a regular file."
    assert result.stdout.splitlines() == [refused, "0", refused, "0", refused, "0",
                                          f"RuntimeError Error opening '{pipes[1]}': Not a regular file."]


# ---------------------------------------------------------------- starved epochs

STARVED_SPEAKERS = 8


def starved_corpus(root, kind):
    """Eight speakers of four files under the first root, the second root
    empty: every file unreadable, every utterance 0.05 s long, every other
    file unreadable, or all of them sound."""
    for s in range(STARVED_SPEAKERS):
        for u in range(4):
            path = os.path.join(root, "libri", "train", f"s{s}", f"u{u}.wav")
            os.makedirs(os.path.dirname(path), exist_ok=True)
            if kind == "unreadable" or (kind == "half_unreadable" and (s + u) % 2):
                with open(path, "w") as f:
                    f.write("not audio\n")
            else:
                write_tone_speech(path, 0.05 if kind == "too_short" else 3.5, RATE, seed=10 * s + u)
    os.makedirs(os.path.join(root, "wsj0"), exist_ok=True)
    return root


@pytest.fixture(scope="module")
def starved(tmp_path_factory):
    kinds = ("unreadable", "too_short", "half_unreadable", "sound")
    return {kind: starved_corpus(str(tmp_path_factory.mktemp(kind)), kind) for kind in kinds}


# Two epochs through a loader with two workers, each batch tagged in its
# worker with the worker's id, so the batches each worker served per epoch
# can be set against what its warning says.
STARVED_STREAM = """
import collections, json, sys
import torch
sys.stdout.reconfigure(line_buffering=True)
import utility.blendkit as bk

root, samples, seed = sys.argv[1], sys.argv[2], int(sys.argv[3])

class ByWorker(torch.utils.data.IterableDataset):
    def __init__(self, dataset):
        super().__init__()
        self.dataset = dataset

    def __iter__(self):
        worker = torch.utils.data.get_worker_info().id
        for batch in self.dataset:
            assert tuple(batch["mixture"].shape) == (3, 1, 16000)
            yield worker

ds = bk.IterableSeparationDataset(speech_root=[root + "/libri", root + "/wsj0"], segment_seconds=1.0,
                                  samples_per_epoch=None if samples == "None" else int(samples), seed=seed)
ds.batch_size = 3
loader = torch.utils.data.DataLoader(ByWorker(ds), batch_size=None, num_workers=2, timeout=60)
served = []
for epoch in range(2):
    ds.set_epoch(epoch)
    counts = collections.Counter(loader)
    served.append([counts[0], counts[1]])
print("SUMMARY " + json.dumps(served))
"""

SHORT_EPOCH = re.compile(
    r"\[Warning\] short epoch (\d+) on worker (\d+), rank 0: batch (\d+) got (\d+) of 3 samples, "
    r"(\d+) of its 60 attempts failed; (?:the stream ends after (\d+) of the (\d+) batches it was to yield"
    r"|the endless stream ends after (\d+) batch(?:es)?)")


@pytest.mark.parametrize("kind,samples,seed,short", [
    ("unreadable", "30", 0, "all"),
    ("too_short", "30", 0, "all"),
    # One worker of the first epoch ends short, the second epoch is whole.
    ("half_unreadable", "30", 0, "some"),
    # An endless stream ends only when a batch cannot be filled.
    ("half_unreadable", "None", 0, "all"),
    ("sound", "30", 0, "none"),
    ("sound", "30", 1, "none"),
])
def test_an_epoch_that_ends_short_says_so_once_per_worker(starved, kind, samples, seed, short):
    served, warnings = run_summarised(STARVED_STREAM, starved[kind], samples, str(seed))
    lines = [w for w in warnings if w.startswith("[Warning] short epoch")]
    found = {}
    for line in lines:
        match = SHORT_EPOCH.fullmatch(line)
        assert match, line
        epoch, worker = int(match[1]), int(match[2])
        assert (epoch, worker) not in found, "two lines for one worker's epoch: " + line
        found[(epoch, worker)] = match
    # 30 samples over two workers, three to a batch: five batches each.
    planned = None if samples == "None" else int(samples) // 2 // 3
    outcomes = set()
    for epoch in range(2):
        for worker in range(2):
            count = served[epoch][worker]
            match = found.pop((epoch, worker), None)
            is_short = planned is None or count < planned
            outcomes.add(is_short)
            if not is_short:
                assert match is None, match[0]
                continue
            assert match is not None, f"epoch {epoch} worker {worker} served {count} of {planned} silently"
            batch, made, failed = int(match[3]), int(match[4]), int(match[5])
            assert batch == count and made < 3 and made + failed == 60
            if planned is None:
                assert int(match[8]) == count and match[6] is None
            else:
                assert (int(match[6]), int(match[7])) == (count, planned)
            if kind == "unreadable":
                assert (count, made) == (0, 0)
    assert not found
    assert outcomes == {"all": {True}, "some": {True, False}, "none": {False}}[short]


def test_demonstration_closing_lines_name_the_short_epochs(starved, tmp_path):
    # At the demonstration's 3 s segments, seed 1 starves the first epoch
    # only: 30 samples were to make ten steps of three.
    done = launch("-m", "utility.blendkit", "--speeches", starved["half_unreadable"] + "/libri",
                  starved["half_unreadable"] + "/wsj0", "--rirs", "--noises", "--samples_per_epoch", "30",
                  "--batch_size", "3", "--num_workers", "2", "--epochs", "2", "--max_steps_per_epoch", "-1",
                  "--seed", "1", "--out_dir", str(tmp_path / "out"), cwd=ROOT, timeout=240)
    assert done.returncode == 0, done.stderr
    # The workers' warnings share the pipe and may run into a step line.
    out = done.stdout
    steps = [len(re.findall(rf"\[epoch {epoch}\] step \d+ ", out)) for epoch in range(2)]
    assert steps[0] < 10 and steps[1] == 10
    assert out.endswith(f"\n[Warning] epoch 0 made {steps[0]} of 10 steps\nDone.\n")
    assert "[Warning] short epoch 0 on worker " in out and "short epoch 1 " not in out
