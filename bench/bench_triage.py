"""Throughput of the pipeline's gate (read, resample to 16 kHz, detect) on 200
short files at mixed rates, against the same steps written at the Python
level with soundfile, resampy and torch, in the same process on the same
files and the same detector network.

Prints utterances per second of both, the ratio, and where the time goes
(loading against detection, and the network's forward share of detection).
"""
import os
import sys
import tempfile
import time

import numpy as np
import resampy
import soundfile as sf
import torch

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, ROOT)
sys.path.append(os.path.join(ROOT, "stand_ins"))

import triageflow  # noqa: E402
from multi_speaker_detector.resnet.resnet import NoisyDetectorV2  # noqa: E402

N_FILES = 200
RATES = (16000, 44100, 8000, 48000, 22050)
THREADS = 4


def make_files(folder):
    rng = np.random.default_rng(0)
    paths = []
    for k in range(N_FILES):
        rate = RATES[k % len(RATES)]
        frames = int(rate * rng.uniform(0.6, 1.4))
        channels = 2 if k % 3 == 0 else 1
        signal = 0.3 * rng.standard_normal((frames, channels))
        path = os.path.join(folder, f"u{k:03d}.wav")
        sf.write(path, signal if channels > 1 else signal[:, 0], rate)
        paths.append(path)
    return paths


def python_load(path):
    audio, fs = sf.read(path)
    if audio.ndim > 1:
        audio = audio[:, 0]
    if fs != 16000:
        n_out = int(np.ceil(audio.shape[-1] * (16000.0 / fs)))
        resampled = resampy.resample(audio, fs, 16000, filter="kaiser_best", axis=-1)
        audio = np.zeros(n_out, dtype=resampled.dtype)
        audio[: min(n_out, len(resampled))] = resampled[:n_out]
        fs = 16000
    return audio.astype(np.float32), fs


def python_predict(model, audio):
    with torch.no_grad():
        x = torch.from_numpy(audio.astype(np.float32)).unsqueeze(0).unsqueeze(1)
        prob = torch.sigmoid(model(x))
        return float((prob[0][1] / torch.sum(prob)).cpu().numpy())


class Gate:
    """Accumulated load and detect seconds of one side."""

    def __init__(self, load, predict):
        self.load, self.predict = load, predict
        self.load_s = self.detect_s = 0.0
        self.rates = []

    def run(self, path):
        t0 = time.perf_counter()
        audio, _ = self.load(path)
        t1 = time.perf_counter()
        self.rates.append(self.predict(audio))
        self.detect_s += time.perf_counter() - t1
        self.load_s += t1 - t0
        return audio

    @property
    def total(self):
        return self.load_s + self.detect_s


def forward_seconds(model, audio):
    with torch.no_grad():
        t0 = time.perf_counter()
        model(torch.from_numpy(audio).unsqueeze(0).unsqueeze(1))
        return time.perf_counter() - t0


def main():
    torch.set_num_threads(THREADS)
    torch.manual_seed(0)
    with tempfile.TemporaryDirectory() as folder:
        paths = make_files(folder)
        ckpt = os.path.join(folder, "det.tar")
        torch.save({"model": {"module." + k: v for k, v in NoisyDetectorV2().state_dict().items()}}, ckpt)
        sys.stdout, console = open(os.devnull, "w"), sys.stdout
        detector = triageflow.MultiSpeakerDetector(ckpt, torch.device("cpu"))
        sys.stdout = console
        # Warm-up: resampy's JIT compilation, our filter tables, the network.
        for path in paths[: len(RATES)]:
            python_predict(detector.model, python_load(path)[0])
            detector.predict(triageflow.load_audio_16k(path)[0])

        ours = Gate(triageflow.load_audio_16k, detector.predict)
        base = Gate(python_load, lambda a: python_predict(detector.model, a))
        forward = 0.0
        # The two sides take turns file by file, so a change in the machine's
        # load touches both alike.
        for path in paths:
            audio = ours.run(path)
            base.run(path)
            forward += forward_seconds(detector.model, audio)

    worst = max(abs(a - b) for a, b in zip(ours.rates, base.rates))
    print(f"gate on {N_FILES} files at {', '.join(map(str, RATES))} Hz, 0.6-1.4 s, a third stereo, "
          f"{THREADS} torch threads")
    print(f"{'':10} {'utt/s':>8} {'load s':>8} {'detect s':>9}")
    print(f"{'python':10} {N_FILES / base.total:8.1f} {base.load_s:8.3f} {base.detect_s:9.3f}")
    print(f"{'ours':10} {N_FILES / ours.total:8.1f} {ours.load_s:8.3f} {ours.detect_s:9.3f}")
    print(f"ratio (ours / python, utterances per second): {base.total / ours.total:.2f}")
    print(f"loading alone: {base.load_s / ours.load_s:.2f}x faster; network forward (shared by both): "
          f"{forward:.3f} s = {100 * forward / ours.detect_s:.0f}% of our detect time, "
          f"{100 * forward / base.detect_s:.0f}% of python's")
    print(f"largest rate difference between the two: {worst:.2e}")


if __name__ == "__main__":
    main()
