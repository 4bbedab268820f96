"""Runs every example command of the README, in its order, in one work folder
laid out as the README's trees and files show, and checks what each command
leaves behind, so the README stays something a new user can follow.

The README marks what this test reads with a comment on the line before a
fenced block:
    <!-- example: NAME -->   a shell command, run with bash
    <!-- output: NAME -->    lines that example NAME prints, in a row
    <!-- file: PATH -->      the content of an input file
    <!-- tree -->            a drawn folder tree of input files; audio files
                             are generated (16 kHz, or 8 kHz where the entry's
                             comment says so)
"""
import json
import os
import re
import subprocess
import zlib
from dataclasses import dataclass

import numpy as np
import pytest
import soundfile as sf
import torch

from helpers import ROOT
from multi_speaker_detector.resnet.resnet import NoisyDetectorV2
from utility.unmixer_core import TFLocoformerSEP

README = os.path.join(ROOT, "README.md")
ITN_RUNNER = os.path.join(ROOT, "build", "itn_runner", "itn_runner")

MARKER = re.compile(r"<!-- (?:(example|output|file): (\S+)|(tree)) -->")
FENCE = re.compile(r"```(\w*)")
TREE_DRAWING = "│├└─ "
AUDIO_EXTS = (".wav", ".flac")


@dataclass
class Block:
    kind: str
    name: str
    lang: str
    lines: list


def read_blocks(text):
    """Every fenced block of `text`, with the marker that stands right before it (kind None when unmarked)."""
    blocks, marker = [], None
    lines = text.split("\n")
    i = 0
    while i < len(lines):
        line = lines[i]
        found = MARKER.fullmatch(line.strip())
        fence = FENCE.fullmatch(line)
        if found:
            assert marker is None, f"README line {i + 1}: two markers in a row"
            marker = (found.group(1) or found.group(3), found.group(2))
        elif fence:
            end = lines.index("```", i + 1)
            kind, name = marker or (None, None)
            blocks.append(Block(kind, name, fence.group(1), lines[i + 1:end]))
            marker, i = None, end
        elif marker is not None and line.strip():
            raise AssertionError(f"README line {i + 1}: a marker must stand right before a fenced block")
        i += 1
    return blocks


BLOCKS = read_blocks(open(README, encoding="utf-8").read())
EXAMPLES = [b for b in BLOCKS if b.kind == "example"]
OUTPUTS = {b.name: b.lines for b in BLOCKS if b.kind == "output"}
FILES = {b.name: "\n".join(b.lines) + "\n" for b in BLOCKS if b.kind == "file"}


def tree_entries(lines):
    """(path, comment) of every entry of a drawn tree; folder paths end in "/".
    An undrawn line is a root, relative to the work folder; each level of
    drawing is four characters wide."""
    entries, folders = [], []
    for line in lines:
        drawn, _, comment = line.partition("  #")
        drawn = drawn.rstrip()
        name = drawn.lstrip(TREE_DRAWING)
        depth = (len(drawn) - len(name)) // 4
        path = name if depth == 0 else folders[depth - 1] + name
        del folders[depth:]
        folders.append(path)
        entries.append((path, comment.strip()))
    return entries


TREE = [entry for b in BLOCKS if b.kind == "tree" for entry in tree_entries(b.lines)]


def voice(seconds, sr, low_hz, high_hz, seed):
    """A harmonic voice inside [low_hz, high_hz) with a syllable-rate level."""
    rng = np.random.default_rng(seed)
    t = np.arange(int(seconds * sr)) / sr
    f0 = rng.uniform(low_hz, low_hz * 1.2)
    top = min(high_hz, 0.45 * sr)
    tone = sum(np.sin(2 * np.pi * f0 * k * t + rng.uniform(0, 6)) / k for k in range(1, 40) if f0 * k < top)
    return tone / np.abs(tone).max() * (0.6 + 0.4 * np.abs(np.sin(2 * np.pi * 4 * t)))


def seed_of(text):
    return zlib.crc32(text.encode())


def recording(path, sr):
    """Two talkers on either side of 2 kHz: the low one all along, the high one in the middle."""
    low = 0.3 * voice(4.0, sr, 140, 1800, seed_of(path))
    high = 0.12 * voice(4.0, sr, 2600, 7000, seed_of(path) + 1)
    high[: len(high) // 4] = 0.0
    high[3 * len(high) // 4:] = 0.0
    return low + high


def validation_file(path, sr):
    """Item files of an N-talker set: talker k in band k, the mixture their sum."""
    parts = path.split("/")
    count, folder, name = int(re.fullmatch(r"(\d)mix", parts[-3]).group(1)), parts[-2], parts[-1]
    sources = [0.2 * voice(3.0, sr, 150 * 2 ** k, 1200 * 2 ** k, seed_of(name) + k) for k in range(count)]
    return sum(sources) if folder == "mixture" else sources[int(folder[1:]) - 1]


def impulse_response(path, sr):
    rng = np.random.default_rng(seed_of(path))
    n = int(0.25 * sr)
    response = rng.standard_normal(n) * np.exp(-np.arange(n) / (0.04 * sr))
    response[0] = 1.0
    return 0.5 * response / np.abs(response).max()


AUDIO_BY_TOP_FOLDER = {
    "recordings": recording,
    "corpora": lambda path, sr: 0.2 * voice(2.0, sr, 120 + seed_of(path) % 200, 4000, seed_of(path)),
    "rirs": impulse_response,
    "noises": lambda path, sr: 0.05 * np.random.default_rng(seed_of(path)).standard_normal(4 * sr),
    "validation": validation_file,
}


def build_inputs(work):
    for path, comment in TREE:
        target = os.path.join(work, path)
        if path.endswith("/"):
            os.makedirs(target, exist_ok=True)
        elif path.endswith(AUDIO_EXTS):
            sr = 8000 if "8 kHz" in comment else 16000
            sf.write(target, AUDIO_BY_TOP_FOLDER[path.split("/")[0]](path, sr), sr)
        else:
            assert path in FILES, f"{path} of a README tree has no file block"
    for path, content in FILES.items():
        os.makedirs(os.path.dirname(os.path.join(work, path)), exist_ok=True)
        with open(os.path.join(work, path), "w", encoding="utf-8") as f:
            f.write(content)


def needs_build_folder(example):
    return "$SPEECHKIT/build/" in "\n".join(example.lines)


@pytest.fixture(scope="module")
def work_runs(tmp_path_factory):
    """The work folder after every example has run in README order, and each run's outcome."""
    work = str(tmp_path_factory.mktemp("work"))
    build_inputs(work)
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}
    env["SPEECHKIT"] = ROOT
    runs = {}
    for example in EXAMPLES:
        if needs_build_folder(example) and not os.path.exists(ITN_RUNNER):
            continue
        runs[example.name] = subprocess.run(
            ["bash", "-e", "-u", "-o", "pipefail", "-c", "\n".join(example.lines)], cwd=work, env=env,
            capture_output=True, text=True, timeout=300)
    return work, runs


def names_in(folder):
    return sorted(os.listdir(folder))


def stem(path):
    return os.path.splitext(os.path.basename(path))[0]


def assert_recording_folder(folder, source_frames):
    """mix.wav at 16 kHz, one main speaker's stream of the same length, log.txt."""
    names = set(os.listdir(folder))
    mains = [n for n in names if re.fullmatch(r"main_speaker_\d+\.wav", n)]
    assert names == {"mix.wav", "log.txt", *mains} and len(mains) == 1, names
    mix, main = sf.info(os.path.join(folder, "mix.wav")), sf.info(os.path.join(folder, mains[0]))
    assert (mix.samplerate, main.samplerate, main.frames) == (16000, 16000, mix.frames)
    assert abs(mix.frames - source_frames) <= 1
    assert os.path.getsize(os.path.join(folder, "log.txt")) > 0


def frames_at_16k(work, wav):
    info = sf.info(os.path.join(work, wav))
    return round(info.frames * 16000 / info.samplerate)


def recordings():
    return [p for p, _ in TREE if p.startswith("recordings/") and p.endswith(".wav")]


def check_separation_checkpoint(work):
    ckpt = torch.load(os.path.join(work, "checkpoint_best.pth"))
    TFLocoformerSEP().load_state_dict(ckpt["model_state_dict"])


def check_detector_checkpoint(work):
    ckpt = torch.load(os.path.join(work, "model_speakers.tar"))
    NoisyDetectorV2().load_state_dict(ckpt["model"])


def check_leadvoice_folder(work):
    wavs = recordings()
    assert names_in(os.path.join(work, "separated")) == sorted(map(stem, wavs))
    for wav in wavs:
        assert_recording_folder(os.path.join(work, "separated", stem(wav)), frames_at_16k(work, wav))


def check_leadvoice_task_list(work):
    tasks = [json.loads(line) for line in FILES["tasks.jsonl"].splitlines()]
    taken = [t["prompt_wav"] for t in tasks if t["multi_spks_rate"] > 0.5]
    assert taken and len(taken) < len(tasks)
    assert names_in(os.path.join(work, "selected")) == sorted(map(stem, taken))
    for wav in taken:
        assert_recording_folder(os.path.join(work, "selected", stem(wav)), frames_at_16k(work, wav))


def check_triageflow(work):
    entries = [line.split() for line in FILES["list.scp"].splitlines() if line.strip() and not line.startswith("#")]
    lines = open(os.path.join(work, "triage", "result.jsonl"), encoding="utf-8").read().splitlines()
    records = [json.loads(line) for line in lines]
    assert [(r["id"], r["wav_path"]) for r in records] == [tuple(e) for e in entries]
    for record in records:
        # An untrained detector's rate is near one half, above the default threshold.
        assert 0.3 <= record["multi_spks_rate"] <= 0.7 and record["multi_spks"] is True, record
        folder = os.path.join(work, "triage", "separated", record["id"])
        others = [f"other_spk{n}_wav_path" for n in range(1, len(record) - 4)]
        assert list(record) == ["id", "wav_path", "multi_spks_rate", "multi_spks", "main_spk_wav_path", *others]
        paths = list(record.values())[4:]
        assert set(os.listdir(folder)) == {"log.txt", *(os.path.basename(p) for p in paths)}
        for path in paths:
            assert re.fullmatch(r"(main|other)_speaker_\d+\.wav", os.path.basename(path))
            assert sf.info(os.path.join(work, path)).frames == frames_at_16k(work, record["wav_path"])


def check_blendkit_demo(work):
    out = os.path.join(work, "blend_out")
    names = os.listdir(out)
    mixtures = [n for n in names if n.endswith("_mixture.wav")]
    # Two steps of two samples, each source written beside its mixture.
    assert sorted(n[:len("epoch000_step000000_b0")] for n in mixtures) == [
        f"epoch000_step00000{step}_b{j}" for step in (0, 1) for j in (0, 1)]
    for mixture in mixtures:
        base = mixture[:-len("_mixture.wav")]
        ids = base.split("_sids", 1)[1].split("_")
        sources = sorted(n for n in names if n.startswith(base + "_source"))
        assert sources == [f"{base}_source{k}_sid{ids[2 * k]}_{ids[2 * k + 1]}.wav" for k in range(len(ids) // 2)]
    for name in names:
        info = sf.info(os.path.join(out, name))
        assert (info.samplerate, info.frames, info.subtype) == (16000, 48000, "FLOAT"), name


CHECKS = {
    "separation-checkpoint": check_separation_checkpoint,
    "detector-checkpoint": check_detector_checkpoint,
    "leadvoice-folder": check_leadvoice_folder,
    "leadvoice-task-list": check_leadvoice_task_list,
    "triageflow": check_triageflow,
    "blendkit-demo": check_blendkit_demo,
}


def comparable(lines):
    # The engine's time per line is the one thing a run may change.
    return [re.sub(r"time_cost=-?\d+ms", "time_cost=<ms>", line) for line in lines]


def assert_prints_in_a_row(stdout, expected):
    got, want = comparable(stdout.split("\n")), comparable(expected)
    starts = [i for i in range(len(got) - len(want) + 1) if got[i:i + len(want)] == want]
    assert starts, "expected, in a row:\n" + "\n".join(want) + "\n\ngot:\n" + stdout


def test_readme_marks_every_command_and_names_the_interpreter():
    names = [e.name for e in EXAMPLES]
    assert len(set(names)) == len(names)
    assert not [b.lines for b in BLOCKS if b.lang == "sh" and b.kind != "example"]
    assert all(e.lang == "sh" for e in EXAMPLES)
    # Every example is checked by what it prints, by what it leaves, or both.
    assert set(OUTPUTS) <= set(names) and set(CHECKS) <= set(names)
    assert set(names) == set(OUTPUTS) | set(CHECKS)
    text = open(README, encoding="utf-8").read()
    assert not re.findall(r"(?<!/usr/bin/)\bpython3?\s+-[mc]\b", text)
    for example in EXAMPLES:
        script = "\n".join(example.lines)
        if "python" in script:
            assert re.search(r"PYTHONPATH=\S+ /usr/bin/python3 -[mc]", script), example.name


@pytest.mark.parametrize("example", EXAMPLES, ids=[e.name for e in EXAMPLES])
def test_example_runs_as_written(work_runs, example):
    work, runs = work_runs
    if example.name not in runs:
        pytest.skip("itn_runner is not built under build/ (make build)")
    run = runs[example.name]
    assert run.returncode == 0, f"stdout:\n{run.stdout}\nstderr:\n{run.stderr}"
    if example.name in OUTPUTS:
        assert_prints_in_a_row(run.stdout, OUTPUTS[example.name])
    if example.name in CHECKS:
        CHECKS[example.name](work)
