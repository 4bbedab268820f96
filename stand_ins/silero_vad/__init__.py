"""Stand-in for the Silero VAD package, for tests and the demo only.

The real package runs a small neural voice-activity model. This layer keeps
its calling surface (``load_silero_vad`` and ``get_speech_timestamps``) and
detects speech from frame energy instead: a frame is speech when its RMS
level is above an absolute floor and within a fixed distance of the loudest
frame. Runs of speech frames shorter than ``min_speech_duration_ms`` are
dropped, gaps shorter than ``min_silence_duration_ms`` are bridged, and each
span is padded by ``speech_pad_ms`` (gaps that remain are longer than twice
the pad, so padded spans never overlap). Spans are sample offsets, end exclusive.
"""
import numpy as np

FLOOR_DBFS = -50.0
RANGE_DB = 35.0


class EnergyVad:
    """Carries the detector's fixed settings; it has no weights."""

    def __init__(self):
        self.floor_dbfs = FLOOR_DBFS
        self.range_db = RANGE_DB


def load_silero_vad():
    return EnergyVad()


def _frame_size(sampling_rate):
    if sampling_rate == 8000:
        return 256
    if sampling_rate % 16000 == 0 and sampling_rate > 0:
        return 512 * (sampling_rate // 16000)
    raise ValueError("Currently silero VAD models support 8000 and 16000 (or multiply of 16000) sample rates")


def _speech_frames(signal, frame, model):
    count = len(signal) // frame + (1 if len(signal) % frame else 0)
    padded = np.zeros(count * frame, dtype=np.float64)
    padded[: len(signal)] = signal
    rms = np.sqrt(np.mean(padded.reshape(count, frame) ** 2, axis=1))
    level = 20.0 * np.log10(np.maximum(rms, 1e-12))
    bar = max(model.floor_dbfs, float(level.max()) - model.range_db)
    return level > bar


def _runs(flags):
    """(first, last + 1) frame index pairs of the runs of true flags."""
    edges = np.diff(np.concatenate(([0], flags.astype(np.int8), [0])))
    return list(zip(np.flatnonzero(edges == 1), np.flatnonzero(edges == -1)))


def get_speech_timestamps(audio, model, threshold=0.5, sampling_rate=16000, min_speech_duration_ms=250,
                          min_silence_duration_ms=100, speech_pad_ms=30, return_seconds=False, **_):
    signal = np.asarray(audio.numpy() if hasattr(audio, "numpy") else audio, dtype=np.float64).reshape(-1)
    frame = _frame_size(sampling_rate)
    if signal.size == 0:
        return []
    spans = []
    for first, last in _runs(_speech_frames(signal, frame, model)):
        start, end = int(first) * frame, min(int(last) * frame, len(signal))
        if spans and start - spans[-1]["end"] < min_silence_duration_ms * sampling_rate // 1000:
            spans[-1]["end"] = end
        else:
            spans.append({"start": start, "end": end})
    min_samples = min_speech_duration_ms * sampling_rate // 1000
    pad = speech_pad_ms * sampling_rate // 1000
    kept = []
    for span in spans:
        if span["end"] - span["start"] < min_samples:
            continue
        kept.append({"start": max(0, span["start"] - pad), "end": min(len(signal), span["end"] + pad)})
    if return_seconds:
        return [{"start": round(s["start"] / sampling_rate, 1), "end": round(s["end"] / sampling_rate, 1)}
                for s in kept]
    return kept
