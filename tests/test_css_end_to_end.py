"""A 10 s recording of two synthetic talkers, one below and one above the
stand-in network's band split, speaking in turns with overlaps, through the
processor with the stand-in network and the real SpeakerTracker (stand-in
embedding model), at the drivers' settings."""
import numpy as np
import pytest
import torch

import leadvoice
from css_fakes import RECORD_KEYS
from helpers import SR
from utility.unmixer_core import TFLocoformerSEP

LOW_TURNS = [(0.0, 4.0), (6.0, 10.0)]
HIGH_TURNS = [(3.0, 7.5)]


def turns_envelope(n, turns, ramp=0.05):
    t = np.arange(n) / SR
    env = np.zeros(n)
    for a, b in turns:
        inside = (t >= a) & (t < b)
        rise = np.clip((t - a) / ramp, 0, 1)
        fall = np.clip((b - t) / ramp, 0, 1)
        env[inside] = (0.5 - 0.5 * np.cos(np.pi * np.minimum(rise, fall)))[inside]
    return env


def talker(n, f0, harmonics, turns, seed):
    """A voiced talker: harmonics of a slowly wavering f0, syllable-rate
    amplitude changes, smooth turn on- and offsets."""
    rng = np.random.default_rng(seed)
    t = np.arange(n) / SR
    f = f0 * (1 + 0.03 * np.sin(2 * np.pi * 0.7 * t + rng.uniform(0, 6)))
    phase = 2 * np.pi * np.cumsum(f) / SR
    voice = sum(np.sin(k * phase + rng.uniform(0, 6)) / (1 + 0.3 * i) for i, k in enumerate(harmonics))
    syllables = 0.6 + 0.4 * np.sin(2 * np.pi * 3.5 * t + rng.uniform(0, 6))
    x = voice * syllables * turns_envelope(n, turns)
    return 0.1 * x / np.sqrt(np.mean(x[x != 0] ** 2))


def sisdr_db(estimate, reference):
    e = estimate - estimate.mean()
    r = reference - reference.mean()
    proj = (e @ r) / (r @ r) * r
    return 10 * np.log10((proj @ proj) / ((e - proj) @ (e - proj)))


@pytest.fixture(scope="module")
def scene():
    n = 10 * SR
    low = talker(n, 140, range(1, 7), LOW_TURNS, seed=1)          # up to 1 kHz
    high = talker(n, 260, range(12, 19), HIGH_TURNS, seed=2)      # 3.1 to 4.7 kHz
    tracker = leadvoice.SpeakerTracker(similarity_threshold=0.24, low_similarity_threshold=0.22,
                                       short_speech_duration=0.8, short_speech_threshold_drop=0.05,
                                       max_inter_sisdr_for_update=-10.0)
    network = TFLocoformerSEP().eval()
    processor = leadvoice.CSSProcessor(separation_model=network, speaker_tracker=tracker, max_speakers=4,
                                       seg_duration=2.4, hop_duration=1.2, sample_rate=SR, sisdr_threshold=20.0,
                                       sisdr_threshold_prev=-10.0, merge_threshold=0.5, device=torch.device("cpu"),
                                       segments_save_dir=None)
    streams, records = processor.process(low + high)
    return dict(low=low, high=high, streams=streams, records=records)


def band_of(signal):
    spectrum = np.abs(np.fft.rfft(signal)) ** 2
    split = int(2000 / SR * signal.size)
    return "low" if spectrum[:split].sum() > spectrum[split:].sum() else "high"


def test_two_full_length_streams(scene):
    streams = scene["streams"]
    assert list(streams) == [0, 1]
    assert all(s.dtype == np.float32 and s.shape == (10 * SR,) for s in streams.values())


def test_each_stream_matches_its_talker_where_the_talker_speaks(scene):
    owner = {}
    for sid, stream in scene["streams"].items():
        scores = {}
        for name in ("low", "high"):
            source = scene[name]
            active = np.abs(source) > 1e-3 * np.abs(source).max()
            scores[name] = sisdr_db(stream[active].astype(np.float64), source[active])
        best = max(scores, key=scores.get)
        owner[sid] = best
        assert scores[best] > 15.0, scores
    assert sorted(owner.values()) == ["high", "low"]


def test_ids_are_stable_across_windows(scene):
    talker_of_id = {}
    for record in scene["records"]:
        assert list(record) == RECORD_KEYS
        for signal, gid in zip(record["separated_signals"], record["global_ids"]):
            if gid < 0:
                continue
            assert talker_of_id.setdefault(gid, band_of(signal)) == band_of(signal)
    assert sorted(talker_of_id.values()) == ["high", "low"]


def test_records_cover_the_recording_in_window_order(scene):
    records = scene["records"]
    assert [r["seg_idx"] for r in records] == list(range(8))
    assert [(r["start_sample"], r["end_sample"]) for r in records][-1] == (134400, 160000)
    assert records[0]["similarity_matrix"] is None
    assert all(isinstance(r["similarity_matrix"], np.ndarray) for r in records[1:])
    for r in records:
        assert len(r["separated_signals"]) == len(r["global_ids"]) == len(r["embeddings"]) >= 1
        assert all(s.dtype == np.float32 and s.shape == (38400,) for s in r["separated_signals"])
    # Both talkers speak in window 4 (4.8 s to 7.2 s): two signals with two ids.
    assert sorted(records[4]["global_ids"]) == [0, 1]
