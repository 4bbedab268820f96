"""The detector's predict on long recordings: the trunk in stretches against
the one whole forward that ran before, on a randomly initialised
NoisyDetectorV2 in evaluation mode.

Prints
- the rate of a 2-minute recording through predict and through the whole
  forward, and their difference (the target: within 1e-5), also with a head
  300 times steeper, where a change of the pooled statistics shows more;
- seconds per minute of audio of both on 1- and 2-minute recordings, taking
  turns, best of three, and the ratio (the target: not above 1);
- the peak memory of predict on 10- and 30-minute recordings, each in a fresh
  interpreter: the process's peak (VmHWM) and its rise over the resident
  size just before the call (the target: both under 1.5 GB and about equal).
  The whole forward is measured on 1 minute only: it takes about 0.6 GB per
  minute of audio, so 30 minutes would need far more than the machine has.
"""
import contextlib
import json
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
import torch

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, ROOT)
sys.path.append(os.path.join(ROOT, "stand_ins"))

import triageflow  # noqa: E402
from multi_speaker_detector.resnet.resnet import NoisyDetectorV2  # noqa: E402

SR = 16000
REPEATS = 3


def recording(minutes, seed=0):
    """Noise with a slow level change, float32 from the start so that making
    it never holds a wider copy."""
    audio = np.random.default_rng(seed).standard_normal(int(minutes * 60 * SR), dtype=np.float32)
    audio *= 0.1
    audio[: audio.size // 3] *= 3.0
    return audio


def save_checkpoint(path, steep=1.0):
    torch.manual_seed(0)
    state = NoisyDetectorV2().state_dict()
    state["model_backbone.seg_1.weight"] = state["model_backbone.seg_1.weight"] * steep
    torch.save({"model": state}, path)
    return path


def quiet_detector(ckpt):
    with open(os.devnull, "w") as sink, contextlib.redirect_stdout(sink):
        return triageflow.MultiSpeakerDetector(ckpt, torch.device("cpu"))


def whole_forward_rate(model, audio):
    with torch.no_grad():
        prob = torch.sigmoid(model(torch.from_numpy(audio).unsqueeze(0).unsqueeze(1)))
        return float(prob[0][1] / torch.sum(prob))


def status_mb(field):
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith(field + ":"):
                return int(line.split()[1]) / 1024
    raise KeyError(field)


def reset_peak():
    """Starts the process's peak resident size afresh from its current size,
    where the kernel allows it; ru_maxrss cannot serve, as a child inherits
    its parent's."""
    try:
        with open("/proc/self/clear_refs", "w") as f:
            f.write("5")
        return True
    except OSError:
        return False


def measure_memory(ckpt, minutes, whole):
    """Child side: one predict (or one whole forward) on a fresh interpreter."""
    detector = quiet_detector(ckpt)
    audio = recording(minutes)
    fresh = reset_peak()
    before = status_mb("VmRSS")
    if whole:
        whole_forward_rate(detector.model, audio)
    else:
        detector.predict(audio)
    print(json.dumps({"before": before, "peak": status_mb("VmHWM"), "fresh": fresh}))


def memory_in_child(ckpt, minutes, whole=False):
    done = subprocess.run([sys.executable, os.path.abspath(__file__), "--memory", ckpt, str(minutes), str(int(whole))],
                          capture_output=True, text=True, check=True)
    return json.loads(done.stdout.splitlines()[-1])


def seconds(run):
    t0 = time.perf_counter()
    run()
    return time.perf_counter() - t0


def report_rates(folder):
    audio = recording(2, seed=1)
    for steep, label in ((1.0, "random init"), (300.0, "steeper head")):
        detector = quiet_detector(save_checkpoint(os.path.join(folder, f"steep{steep:g}.tar"), steep))
        ours, whole = detector.predict(audio), whole_forward_rate(detector.model, audio)
        print(f"2-minute rate, {label:12}: stretches {ours:.8f}  whole {whole:.8f}  "
              f"|difference| {abs(ours - whole):.2e}")


def report_time(detector):
    print(f"{'minutes':>8} {'whole s/min':>12} {'stretches s/min':>16} {'ratio':>6}")
    for minutes in (1, 2):
        audio = recording(minutes, seed=2)
        whole = ours = float("inf")
        # Turns, so that a change in the machine's load touches both alike.
        for _ in range(REPEATS):
            whole = min(whole, seconds(lambda: whole_forward_rate(detector.model, audio)))
            ours = min(ours, seconds(lambda: detector.predict(audio)))
        print(f"{minutes:8} {whole / minutes:12.2f} {ours / minutes:16.2f} {ours / whole:6.2f}")


def report_memory(ckpt):
    print(f"{'case':>22} {'peak MB':>8} {'rise MB':>8}  (peak: the process's high-water resident size; "
          "rise: its growth during the call)")
    rows = {}
    for minutes, whole in ((1, True), (10, False), (30, False)):
        m = memory_in_child(ckpt, minutes, whole)
        rows[(minutes, whole)] = m["peak"], m["peak"] - m["before"]
        name = f"{'whole forward' if whole else 'predict'}, {minutes} min"
        print(f"{name:>22} {m['peak']:8.0f} {rows[(minutes, whole)][1]:8.0f}"
              + ("" if m["fresh"] else "  (peak since start)"))
    (peak10, rise10), (peak30, rise30) = rows[(10, False)], rows[(30, False)]
    print(f"predict, 30 min / 10 min: peak {peak30 / peak10:.2f}, rise {rise30 / rise10:.2f}")


def main():
    print(f"{torch.get_num_threads()} torch threads, stretches of {triageflow._DETECTOR_STRETCH_FRAMES} frames")
    with tempfile.TemporaryDirectory() as folder:
        ckpt = save_checkpoint(os.path.join(folder, "det.tar"))
        report_memory(ckpt)
        report_rates(folder)
        detector = quiet_detector(ckpt)
        detector.predict(recording(0.5))  # warm-up
        report_time(detector)


if __name__ == "__main__":
    if len(sys.argv) > 1 and sys.argv[1] == "--memory":
        measure_memory(sys.argv[2], float(sys.argv[3]), bool(int(sys.argv[4])))
    else:
        main()
