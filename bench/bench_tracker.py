"""Speech detection and joining of SpeakerTracker.extract_embedding_from_array
against the same steps written with NumPy, on 2.4 s and 60 s signals.

Two measurements per length: detection alone (a minimum speech duration no
signal reaches, so the call returns after counting speech frames), and the
whole call with a model that returns at once (detection, joining, the
temporary wav and its removal). Printed as NumPy time / C++ time."""
import os
import sys
import tempfile
import timeit

import numpy as np
import soundfile as sf

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, ROOT)
sys.path.append(os.path.join(ROOT, "stand_ins"))
from leadvoice import SpeakerTracker  # noqa: E402

EMBEDDING = np.ones(256, np.float32)


class NullModel:
    def extract_embedding(self, path):
        return EMBEDDING


def numpy_extract(audio, sample_rate=16000, min_speech_duration=0.1, model=NullModel()):
    frame_length, hop_length, margin, min_gap = 400, 160, 10, 5
    min_speech_samples = int(min_speech_duration * sample_rate)
    num_frames = (len(audio) - frame_length) // hop_length + 1
    if num_frames <= 0:
        return None, 0
    stride = audio.strides[0]
    frames = np.lib.stride_tricks.as_strided(audio, shape=(num_frames, frame_length),
                                             strides=(hop_length * stride, stride))
    energies = np.mean(frames ** 2, axis=1)
    threshold = max(0.1 * np.median(energies), 0.05 * np.mean(energies), 1e-7)
    is_speech = energies > threshold
    count = int(np.sum(is_speech))
    if count * hop_length < min_speech_samples:
        return None, count * hop_length
    indices = np.where(is_speech)[0]
    if len(indices) == 0:
        return None, 0
    breaks = np.where(np.diff(indices) > min_gap)[0]
    starts = np.concatenate([[indices[0]], indices[breaks + 1]])
    ends = np.concatenate([indices[breaks], [indices[-1]]])
    merged = []
    for s, e in zip(starts, ends):
        s, e = max(0, s - margin), min(num_frames - 1, e + margin)
        if merged and s <= merged[-1][1] + 1:
            merged[-1] = (merged[-1][0], max(merged[-1][1], e))
        else:
            merged.append((s, e))
    joined = np.concatenate([audio[s * hop_length:min(e * hop_length + frame_length, len(audio))]
                             for s, e in merged])
    f = tempfile.NamedTemporaryFile(prefix="spk_emb_", suffix=".wav", delete=False)
    path = f.name
    f.close()
    try:
        sf.write(path, joined, sample_rate)
        return np.array(model.extract_embedding(path)), len(joined)
    finally:
        if os.path.exists(path):
            os.remove(path)


def speech_like(seconds, seed=0):
    rng = np.random.default_rng(seed)
    n = int(seconds * 16000)
    envelope = (np.sin(np.arange(n) / 16000 * 2 * np.pi * 0.7) > -0.2).astype(np.float32)
    return (rng.standard_normal(n).astype(np.float32) * 0.1 * envelope).astype(np.float32)


def best_of(fn, number):
    return min(timeit.repeat(fn, number=number, repeat=5)) / number


def main():
    tracker = SpeakerTracker()
    tracker.wespeaker = NullModel()
    for seconds, number in ((2.4, 200), (60.0, 10)):
        audio = speech_like(seconds)
        assert numpy_extract(audio)[1] == tracker.extract_embedding_from_array(audio)[1]
        never = 1e9
        detect_cpp = best_of(lambda: tracker.extract_embedding_from_array(audio, never), number)
        detect_np = best_of(lambda: numpy_extract(audio, min_speech_duration=never), number)
        full_cpp = best_of(lambda: tracker.extract_embedding_from_array(audio), number)
        full_np = best_of(lambda: numpy_extract(audio), number)
        print(f"{seconds:5.1f} s  detection: numpy {detect_np * 1e3:8.3f} ms  C++ {detect_cpp * 1e3:8.3f} ms  "
              f"ratio {detect_np / detect_cpp:5.1f}x | whole call: numpy {full_np * 1e3:8.3f} ms  "
              f"C++ {full_cpp * 1e3:8.3f} ms  ratio {full_np / full_cpp:5.1f}x")


if __name__ == "__main__":
    main()
