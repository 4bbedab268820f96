"""The C++ Kaiser resampler against resampy (the same filters) with librosa's
length rule, and its handling of the inputs librosa refuses."""
import numpy as np
import pytest
import resampy

from speech_resample import librosa



def resample(y, orig_sr, target_sr, **kwargs):
    """The rates by position, for short tables; the binding takes them by keyword."""
    return librosa.resample(y, orig_sr=orig_sr, target_sr=target_sr, **kwargs)

RATE_PAIRS = [(8000, 16000), (44100, 16000), (22050, 16000), (48000, 16000), (16000, 8000)]
FILTERS = ["kaiser_best", "kaiser_fast"]
DTYPES = [np.float32, np.float64]


def reference(y, orig_sr, target_sr, res_type):
    """librosa's kaiser path: resampy, then the length fixed to ceil(n * ratio)."""
    n_out = int(np.ceil(y.shape[-1] * (float(target_sr) / orig_sr)))
    y_hat = resampy.resample(y, orig_sr, target_sr, filter=res_type, axis=-1)
    fixed = np.zeros(n_out, dtype=y_hat.dtype)
    kept = min(n_out, y_hat.shape[-1])
    fixed[:kept] = y_hat[:kept]
    return fixed


def assert_matches(out, ref):
    """Equal to float rounding of the signal's scale."""
    assert out.dtype == ref.dtype
    assert out.shape == ref.shape
    scale = max(1.0, float(np.max(np.abs(ref))))
    np.testing.assert_allclose(out, ref, rtol=0, atol=64 * np.finfo(ref.dtype).eps * scale)


def tones(rate, n):
    t = np.arange(n) / rate
    return 0.6 * np.sin(2 * np.pi * 440.0 * t) + 0.3 * np.sin(2 * np.pi * 3100.0 * t + 0.4)


def noise(rate, n):
    return np.random.default_rng(rate).standard_normal(n)


def impulses(rate, n):
    y = np.zeros(n)
    y[[0, 1, n // 3, n // 2 + 7, n - 2, n - 1]] = [1.0, -0.5, 1.0, 0.75, -1.0, 1.0]
    return y


SIGNALS = {"tones": tones, "noise": noise, "impulses": impulses}


@pytest.mark.parametrize("dtype", DTYPES, ids=lambda d: d.__name__)
@pytest.mark.parametrize("signal", sorted(SIGNALS))
@pytest.mark.parametrize("res_type", FILTERS)
@pytest.mark.parametrize("orig_sr,target_sr", RATE_PAIRS)
def test_matches_resampy_with_librosa_length(orig_sr, target_sr, res_type, signal, dtype):
    # An odd length, so the length fix pads where floor and ceil differ.
    y = SIGNALS[signal](orig_sr, orig_sr + orig_sr // 3 + 17).astype(dtype)
    before = y.copy()
    out = resample(y, orig_sr=orig_sr, target_sr=target_sr, res_type=res_type)
    assert_matches(out, reference(y, orig_sr, target_sr, res_type))
    np.testing.assert_array_equal(y, before)


@pytest.mark.parametrize(
    "n,orig_sr,target_sr,expected",
    [
        (100, 44100, 16000, 37),
        (44100, 44100, 16000, 16000),
        (1, 8000, 16000, 2),
        (1000, 11025, 16000, 1452),
        (3, 48000, 16000, 1),
        # 313 * (16000 / 1252) rounds just above 4000: one padded sample.
        (313, 1252, 16000, 4001),
    ],
)
def test_output_length_is_ceil_of_scaled_count(n, orig_sr, target_sr, expected):
    y = noise(orig_sr, n)
    out = resample(y, orig_sr, target_sr, res_type="kaiser_fast")
    assert out.shape == (expected,)
    assert_matches(out, reference(y, orig_sr, target_sr, "kaiser_fast"))


def test_padded_tail_is_silence():
    out = resample(tones(1252, 313), 1252, 16000)
    assert out[-1] == 0.0 and out[-2] != 0.0


@pytest.mark.parametrize("orig_sr,target_sr", [(11025.5, 16000), (np.int64(22050), np.float32(16000.0))])
def test_non_integer_and_numpy_rates(orig_sr, target_sr):
    y = tones(22050, 9001)
    out = resample(y, orig_sr, target_sr, res_type="kaiser_fast")
    assert_matches(out, reference(y, float(orig_sr), float(target_sr), "kaiser_fast"))


def test_default_filter_is_kaiser_best():
    y = noise(44100, 5000)
    default = resample(y, 44100, 16000)
    np.testing.assert_array_equal(default, librosa.resample(y, orig_sr=44100, target_sr=16000, res_type="kaiser_best"))
    np.testing.assert_array_equal(default, librosa.resample(y=y, orig_sr=44100, target_sr=16000))
    assert not np.array_equal(default, resample(y, 44100, 16000, res_type="kaiser_fast"))


def test_rates_are_keyword_only_as_in_librosa():
    with pytest.raises(TypeError):
        librosa.resample(np.zeros(100), 8000, 16000)


@pytest.mark.parametrize("view", [lambda a: a[::2], lambda a: a[::-1], lambda a: a.reshape(-1, 2)[:, 1]],
                         ids=["step2", "reversed", "column"])
@pytest.mark.parametrize("dtype", DTYPES, ids=lambda d: d.__name__)
def test_strided_input_equals_its_contiguous_copy(view, dtype):
    y = view(noise(8000, 12000).astype(dtype))
    assert not y.flags.c_contiguous
    np.testing.assert_array_equal(resample(y, 8000, 16000), resample(np.ascontiguousarray(y), 8000, 16000))


@pytest.mark.parametrize("dtype", DTYPES, ids=lambda d: d.__name__)
@pytest.mark.parametrize("rates", [(16000, 16000), (16000, 16000.0)])
def test_equal_rates_return_the_input_itself(dtype, rates):
    y = noise(16000, 1000).astype(dtype)
    assert resample(y, *rates) is y


def test_long_input_matches_resampy():
    # Long enough to be split over threads.
    y = noise(44100, 44100 * 12).astype(np.float32)
    assert_matches(resample(y, 44100, 16000), reference(y, 44100, 16000, "kaiser_best"))


@pytest.mark.parametrize(
    "y,orig_sr,target_sr,res_type,message",
    [
        ([0.0, 1.0], 8000, 16000, "kaiser_best", "Audio data must be of type numpy.ndarray, got list"),
        (np.zeros(10, np.int16), 8000, 16000, "kaiser_best", "Audio data must be floating-point, got dtype int16"),
        (np.zeros(10, np.int16), 16000, 16000, "kaiser_best", "Audio data must be floating-point"),
        (np.zeros(10, np.float16), 8000, 16000, "kaiser_best", "Audio data must be float32 or float64, got dtype float16"),
        (np.zeros((2, 10)), 8000, 16000, "kaiser_best", "Audio data must be a 1-D array, got 2 dimensions"),
        (np.array(1.0), 8000, 16000, "kaiser_best", "Audio data must be a 1-D array, got 0 dimensions"),
        (np.array([0.0, np.nan, 1.0]), 8000, 16000, "kaiser_best", "Audio buffer is not finite everywhere"),
        (np.array([0.0, -np.inf], np.float32), 8000, 16000, "kaiser_fast", "Audio buffer is not finite everywhere"),
        (np.array([np.inf]), 16000, 16000, "kaiser_best", "Audio buffer is not finite everywhere"),
        (np.zeros(0), 8000, 16000, "kaiser_best", "Input signal length=0 is too small to resample from 8000->16000"),
        (np.zeros(0, np.float32), 16000, 8000, "kaiser_fast", "Input signal length=0 is too small"),
        (np.zeros(2), 44100, 16000, "kaiser_best", "Input signal length=2 is too small to resample from 44100->16000"),
        (np.zeros(10), 0, 16000, "kaiser_best", "Invalid sample rate: orig_sr=0"),
        (np.zeros(10), 8000, -16000, "kaiser_best", "Invalid sample rate: target_sr=-16000"),
        (np.zeros(10), float("nan"), 16000, "kaiser_best", "Invalid sample rate: orig_sr=nan"),
        (np.zeros(10), 8000, float("inf"), "kaiser_best", "Invalid sample rate: target_sr=inf"),
        (np.zeros(10), "8000", 16000, "kaiser_best", "orig_sr must be a number, got str"),
        (np.zeros(10), 8000, None, "kaiser_best", "target_sr must be a number, got NoneType"),
        (np.zeros(10), 8000, 16000, "soxr_hq", "Unsupported res_type 'soxr_hq': expected 'kaiser_best' or 'kaiser_fast'"),
        (np.zeros(10), 8000, 16000, None, "res_type must be a string, got NoneType"),
        (np.zeros(20000), 16000, 1, "kaiser_fast", "rate ratio is below the filter's resolution"),
    ],
)
def test_refused_inputs_raise_value_error(y, orig_sr, target_sr, res_type, message):
    with pytest.raises(ValueError) as info:
        resample(y, orig_sr, target_sr, res_type=res_type)
    assert message in str(info.value)
