"""Runs the main-speaker driver on a few generated two-talker recordings.

Each recording mixes two synthetic talkers that keep to separate frequency
bands (one below 2 kHz, one above), so the stand-in separation network in
utility/unmixer_core.py can split them. One talker dominates each recording;
the demo runs `-m leadvoice` under its own interpreter over the folder,
with the stand-in packages of stand_ins/ on the path, and then checks that
the stream it kept as the main speaker is that talker.
"""
import os
import subprocess
import sys

import numpy as np
import soundfile as sf

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, ROOT)
from utility.unmixer_core import write_checkpoint  # noqa: E402

OUT = os.path.join(ROOT, "demo_out")
INPUT = os.path.join(OUT, "input")
SAVE = os.path.join(OUT, "separated")
CHECKPOINT = os.path.join(OUT, "checkpoint_best.pth")


def talker(seconds, sr, low_hz, high_hz, seed, turns):
    """A voiced talker inside [low_hz, high_hz): harmonics of a drifting pitch,
    syllable-rate loudness changes, speaking only during `turns` (seconds)."""
    rng = np.random.default_rng(seed)
    t = np.arange(int(seconds * sr)) / sr
    f0 = rng.uniform(low_hz, low_hz * 1.25) * (1 + 0.04 * np.sin(2 * np.pi * 0.7 * t))
    phase = 2 * np.pi * np.cumsum(f0) / sr
    voice = sum(np.sin(k * phase + rng.uniform(0, 6)) / k
                for k in range(1, 60) if k * f0.max() < min(high_hz, 0.45 * sr))
    syllables = 0.6 + 0.4 * np.abs(np.sin(2 * np.pi * rng.uniform(3, 5) * t))
    gate = np.zeros_like(t)
    for start, stop in turns:
        gate[int(start * sr):int(stop * sr)] = 1.0
    return voice / np.max(np.abs(voice)) * syllables * gate


RECORDINGS = [
    # name, rate, seconds, (level, turns) of the low talker, of the high talker, main talker
    ("interview_01.wav", 16000, 8.0, (0.35, [(0.0, 4.5), (5.5, 8.0)]), (0.15, [(3.5, 6.0)]), "low"),
    ("interview_02.wav", 16000, 8.0, (0.10, [(1.0, 2.5), (6.0, 7.0)]), (0.35, [(0.0, 5.5), (6.5, 8.0)]), "high"),
    ("phone_03.wav", 8000, 6.0, (0.30, [(0.0, 6.0)]), (0.12, [(2.0, 3.5)]), "low"),
]


def make_inputs():
    os.makedirs(INPUT, exist_ok=True)
    truth = {}
    for i, (name, sr, seconds, (low_level, low_turns), (high_level, high_turns), main) in enumerate(RECORDINGS):
        low = low_level * talker(seconds, sr, 140, 1800, 10 + i, low_turns)
        high = high_level * talker(seconds, sr, 2600, 7000, 20 + i, high_turns)
        sf.write(os.path.join(INPUT, name), low + high, sr)
        truth[os.path.splitext(name)[0]] = (low if main == "low" else high, sr, main)
    return truth


def main_speaker_file(folder):
    names = [n for n in os.listdir(folder) if n.startswith("main_speaker_")]
    return os.path.join(folder, names[0]) if len(names) == 1 else None


def resampled(signal, sr, target):
    # Linear interpolation is plenty for a similarity check.
    t = np.arange(int(len(signal) * target / sr)) / target
    return np.interp(t, np.arange(len(signal)) / sr, signal)


def report(truth):
    print("\n=== demo summary ===")
    ok = True
    for stem, (expected, sr, main) in truth.items():
        folder = os.path.join(SAVE, stem)
        path = main_speaker_file(folder)
        if path is None:
            print(f"{stem}: no main speaker file")
            ok = False
            continue
        stream, rate = sf.read(path)
        reference = resampled(expected, sr, rate) if sr != rate else expected
        n = min(len(stream), len(reference))
        similarity = float(np.dot(stream[:n], reference[:n]) /
                           (np.linalg.norm(stream[:n]) * np.linalg.norm(reference[:n]) + 1e-12))
        verdict = "matches" if similarity > 0.8 else "does NOT match"
        ok = ok and similarity > 0.8
        print(f"{stem}: {os.path.basename(path)} {verdict} the dominant {main}-band talker "
              f"(correlation {similarity:.2f}); files: {', '.join(sorted(os.listdir(folder)))}")
    print(f"\ninputs:      {INPUT}\ncheckpoint:  {CHECKPOINT}\noutputs:     {SAVE}/<recording>/"
          "{mix.wav, main_speaker_<id>.wav, log.txt}")
    return ok


def main():
    truth = make_inputs()
    write_checkpoint(CHECKPOINT)
    env = dict(os.environ)
    env["PYTHONPATH"] = os.pathsep.join([ROOT, os.path.join(ROOT, "stand_ins")] +
                                        ([env["PYTHONPATH"]] if env.get("PYTHONPATH") else []))
    command = [sys.executable, "-m", "leadvoice", "--data_path", INPUT, "--inference", CHECKPOINT,
               "--save_dir", SAVE, "--device", "cpu"]
    print("running:", " ".join(command), flush=True)
    subprocess.run(command, env=env, cwd=ROOT, check=True)
    return 0 if report(truth) else 1


if __name__ == "__main__":
    sys.exit(main())
