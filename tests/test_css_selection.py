import math

import numpy as np
import pytest
import torch

import leadvoice
from css_fakes import SMALL_PAD as PAD, SMALL_SEG as N, SMALL_WINDOWS, FakeTracker, ScriptedNetwork, tone
from leadvoice import CSSProcessor


@pytest.fixture(autouse=True)
def no_merging(monkeypatch):
    monkeypatch.setattr(leadvoice, "cosine_similarity", lambda a, b: 0.0)


def run(outputs, mix, network_dtype=torch.float32, **kwargs):
    """One call of process with a scripted network; returns the tracker, the
    records and the kept signals of every window as the tracker saw them."""
    labels = iter(range(10 ** 6))
    tracker = FakeTracker(embed=lambda s: (np.array([float(next(labels))]), s.size))
    options = dict(SMALL_WINDOWS, max_speakers=3)
    options.update(kwargs)
    network = ScriptedNetwork(outputs, padding=PAD, dtype=network_dtype)
    _, records = CSSProcessor(network, tracker, **options).process(mix)
    return tracker, records


# Whole cycles every 100 samples: each window of a tiled mixture looks alike.
A = tone(N, 4)
B = tone(N, 8)


def tiled(signal, windows):
    return np.tile(signal[:200], windows + 1)


def dominant_bins(signals):
    return [int(np.argmax(np.abs(np.fft.rfft(s)))) for s in signals]


@pytest.mark.parametrize("sisdr_threshold, sisdr_threshold_prev, kept", [
    (10.0, -10.0, 3),
    (-80.0, -10.0, 1),      # a silent output measures exactly -80 dB: equal is refused
    (-79.99, -10.0, 3),
    (10.0, -80.0, 1),
    (10.0, -79.99, 3),
])
def test_both_tests_are_strict(sisdr_threshold, sisdr_threshold_prev, kept):
    silent = np.zeros(N)
    tracker, records = run(lambda w: [A, silent, silent], A, sisdr_threshold=sisdr_threshold,
                           sisdr_threshold_prev=sisdr_threshold_prev)
    assert len(tracker.extracted()) == kept
    assert len(records[0]["separated_signals"]) == kept


@pytest.mark.parametrize("outputs, kept_bins", [
    (lambda w: [A, B, w], [4, 8]),
    (lambda w: [A, w, B], [4]),           # the mixture copy ends the scan; B is never reached
    (lambda w: [w, w, A], [4]),           # output 0 is kept even when it is the mixture (A dominates)
])
def test_scan_keeps_a_leading_run(outputs, kept_bins):
    tracker, _ = run(outputs, 2 * A + B)
    assert dominant_bins(tracker.extracted()) == kept_bins


def test_scan_stops_before_a_missing_output():
    # Two outputs, three looked for: the refusal of output 1 ends the scan in time.
    tracker, _ = run(lambda w: [A, w], A + B)
    assert len(tracker.extracted()) == 1
    with pytest.raises(IndexError):
        run(lambda w: [A, B], A + B)


def test_nan_against_the_mixture_refuses_but_against_earlier_outputs_is_ignored():
    broken = np.full(N, np.nan)
    tracker, _ = run(lambda w: [A, broken, B], A + B)
    assert len(tracker.extracted()) == 1
    tracker, _ = run(lambda w: [broken, B, tone(N, 12)], A + B, max_speakers=2)
    assert len(tracker.extracted()) == 2
    assert np.isnan(tracker.extracted()[0]).all()


def test_outputs_are_scaled_to_the_mixture():
    # Gains 1/2 and -2 bring both outputs back to their share of the mixture.
    tracker, records = run(lambda w: [2 * A, -0.5 * B], A + B, max_speakers=2)
    first, second = records[0]["separated_signals"]
    assert first.dtype == np.float32 and first.shape == (N,)
    np.testing.assert_allclose(first, A, atol=1e-5)
    np.testing.assert_allclose(second, B, atol=1e-5)


@pytest.mark.parametrize("network_dtype, dtype", [(torch.float32, np.float32), (torch.float64, np.float64)])
def test_kept_signals_follow_the_network_type_and_window_length(network_dtype, dtype):
    mix = np.concatenate([A + B, (A + B)[:50]])        # windows (0, 400), (200, 450)
    tracker, records = run(lambda w: [w * (np.arange(N) < 250), w], mix, network_dtype=network_dtype,
                           max_speakers=2)
    last = records[-1]["separated_signals"][0]
    assert last.dtype == dtype and last.shape == (N,)
    np.testing.assert_array_equal(last[250:], 0)
    assert records[-1]["start_sample"] == 200 and records[-1]["end_sample"] == 450


def quality_seen(tracker):
    return [c[2] for c in tracker.calls if c[0] == "match"]


def test_quality_is_the_largest_sisdr_against_the_other_kept_signals():
    leak = B + 0.2 * A
    tracker, records = run(lambda w: [A, leak, tone(N, 12, 0.3)], tiled(A + leak, 2), max_speakers=3,
                           sisdr_threshold_prev=100.0)
    signals = records[1]["separated_signals"]
    tensors = [torch.from_numpy(s).float() for s in signals]
    expected = [max(leadvoice.calculate_sisdr(tensors[i], tensors[j]) for j in range(3) if j != i)
                for i in range(3)]
    seen = quality_seen(tracker)[0]
    assert all(type(q) is float for q in seen)
    assert seen == pytest.approx(expected, abs=1e-3)
    assert seen[0] == pytest.approx(seen[1], abs=1e-3)      # A and the leak hold each other alike
    assert seen[0] > -20.0 > seen[2]


@pytest.mark.parametrize("outputs, max_speakers, expected", [
    (lambda w: [w], 1, [-math.inf]),                       # one output looked for, none measured
    (lambda w: [A, w, B], 3, [-math.inf]),                 # scan stopped after output 0
    (lambda w: [A, B], 2, [-80.0, -80.0]),                 # orthogonal: the floor
])
def test_quality_edge_values(outputs, max_speakers, expected):
    tracker, _ = run(outputs, tiled(A + B, 2), max_speakers=max_speakers)
    assert quality_seen(tracker)[0] == pytest.approx(expected, abs=0.05)


@pytest.mark.parametrize("layout", ["transposed", "half"])
def test_outputs_the_host_path_cannot_read_go_through_the_tensor_form(layout):
    # The same outputs, once as a plain float32 tensor (scaled on the host) and
    # once in a layout only the tensor form reads: the kept signals agree.
    outputs = lambda w: [A + 0.1, -0.5 * B]

    class Relaid(ScriptedNetwork):
        def __call__(self, mixture, max_speakers):
            _, out = super().__call__(mixture, max_speakers)
            if layout == "transposed":
                return None, out[0].t().contiguous().t().unsqueeze(0)    # time is not the fastest axis
            return None, out.half()

    mix = A + B
    _, plain = run(outputs, mix, max_speakers=2)
    labels = iter(range(100))
    tracker = FakeTracker(embed=lambda s: (np.array([float(next(labels))]), s.size))
    network = Relaid(outputs, padding=PAD)
    _, relaid = CSSProcessor(network, tracker, max_speakers=2, **SMALL_WINDOWS).process(mix)
    tolerance = 1e-6 if layout == "transposed" else 2e-3
    for a, b in zip(plain[0]["separated_signals"], relaid[0]["separated_signals"]):
        assert b.dtype == np.float32
        np.testing.assert_allclose(a, b, atol=tolerance)
