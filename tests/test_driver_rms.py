import numpy as np
import pytest

import leadvoice


@pytest.mark.parametrize("dtype", [np.float32, np.float64])
def test_rms_level_matches_numpy_in_the_arrays_type(dtype):
    rng = np.random.default_rng(5)
    for shape in [(2,), (20011,), (3, 7001), (1,)]:
        audio = rng.standard_normal(shape).astype(dtype)
        level = leadvoice.rms_level(audio)
        assert type(level) is np.dtype(dtype).type
        assert level == np.sqrt(np.mean(audio ** 2))


def test_rms_level_values():
    assert leadvoice.rms_level(np.array([3.0, -4.0])) == np.sqrt(12.5)
    assert leadvoice.rms_level(np.full(10, -0.25)) == 0.25
    with np.errstate(all="ignore"):
        assert np.isnan(leadvoice.rms_level(np.zeros(0)))


@pytest.mark.parametrize("target, expected", [
    (0.1, [0.1, -0.1, 0.1, -0.1]), (1.0, [1.0, -1.0, 1.0, -1.0]), (2.0, [1.0, -1.0, 1.0, -1.0]),
    (0, [0.0, 0.0, 0.0, 0.0]),
])
def test_rms_normalize_targets_and_peak_limit(target, expected):
    out = leadvoice.rms_normalize(np.array([0.5, -0.5, 0.5, -0.5]), target)
    np.testing.assert_allclose(out, expected, rtol=1e-15, atol=0)


def test_peak_limit_keeps_input_rms():
    audio = np.zeros(200)
    audio[0] = 1.0
    out = leadvoice.rms_normalize(audio)
    assert out.max() == 1.0
    assert np.isclose(leadvoice.rms_level(out), np.sqrt(0.005))


def test_silent_input_is_returned_itself():
    audio = np.zeros(16, dtype=np.float32)
    assert leadvoice.rms_normalize(audio) is audio


@pytest.mark.parametrize("dtype", [np.float32, np.float64])
def test_rms_normalize_matches_numpy_expression(dtype):
    rng = np.random.default_rng(1)
    audio = (rng.standard_normal((4, 999)) * 0.05).astype(dtype)
    out = leadvoice.rms_normalize(audio, 0.3)
    gain = 0.3 / np.sqrt(np.mean(audio ** 2))
    expected = audio * gain
    peak = np.max(np.abs(expected))
    if peak > 1.0:
        expected = expected / peak
    assert out.dtype == dtype and out.shape == audio.shape
    assert np.array_equal(out, expected)
    assert out is not audio


def test_rms_level_is_looked_up_at_call_time(monkeypatch):
    monkeypatch.setattr(leadvoice, "rms_level", lambda audio: 0.5)
    np.testing.assert_array_equal(leadvoice.rms_normalize(np.array([0.25, -0.25]), 0.2), [0.1, -0.1])
    monkeypatch.setattr(leadvoice, "rms_level", lambda audio: 0)
    audio = np.array([0.25])
    assert leadvoice.rms_normalize(audio) is audio


def test_empty_signal_fails_at_the_peak():
    with np.errstate(all="ignore"), pytest.raises(ValueError, match="zero-size array"):
        leadvoice.rms_normalize(np.zeros(0))


def test_non_float_input_is_refused():
    with pytest.raises(TypeError, match="float32 or float64"):
        leadvoice.rms_level(np.array([1, 2]))


def test_docstrings():
    assert leadvoice.rms_level.__doc__ == "计算音频的RMS（均方根）能量"
    assert not leadvoice.rms_normalize.__doc__
