"""Signal functions of the training stream: reading, convolution, levels,
SIR and SNR scaling, checked against the NumPy / soundfile expressions they
stand for."""
import os
import pathlib
import random

import numpy as np
import pytest
import soundfile as sf

import utility.blendkit as bk
from blendkit_stream_fakes import recording_random_module


# ---------------------------------------------------------------- references

def ref_sf_read_failure(path, dtype="float32"):
    """The warning line the reader prints for a file soundfile refuses."""
    try:
        sf.read(path, dtype=dtype)
    except Exception as e:  # noqa: BLE001 - the text is what matters
        return "[Warning] sf.read failed for " + str(path) + ": " + str(e)
    raise AssertionError("soundfile read %r" % (path,))


def ref_rms(x, eps=1e-9):
    if x is None or x.size == 0:
        return 0.0
    return float(np.sqrt(np.mean(x.astype(np.float64) ** 2) + eps))


def ref_preserve_rms(orig, processed, eps=1e-12):
    r_orig, r_proc = ref_rms(orig), ref_rms(processed)
    if r_proc < eps:
        return processed
    return processed * (r_orig / r_proc)


def ref_scale_for_sir(target, interferer, sir_db):
    rt, ri = ref_rms(target), ref_rms(interferer)
    if ri == 0.0:
        return np.zeros_like(interferer, dtype=np.float32)
    k = rt / (ri * 10.0 ** (sir_db / 20.0))
    return (interferer * k).astype(np.float32)


def ref_mix_noise_at_snr(clean, noise, snr_db, rng):
    if clean.size == 0:
        return clean
    n = clean.size
    if noise.size >= n:
        start = rng.randint(0, noise.size - n)
        noise_seg = noise[start:start + n]
    else:
        reps = int(np.ceil(n / noise.size))
        noise_seg = np.tile(noise, reps)[:n]
    eps = 1e-9
    rms_clean = np.sqrt(np.mean(clean ** 2) + eps)
    rms_noise = np.sqrt(np.mean(noise_seg ** 2) + eps)
    target_noise_rms = rms_clean / (10 ** (snr_db / 20.0))
    scaled_noise = noise_seg * (target_noise_rms / rms_noise)
    return (clean + scaled_noise).astype(np.float32)


def recording_random(seed):
    """A seeded stream whose every call is in its `calls`."""
    return recording_random_module().Random(seed)


class RecordingResampler:
    """Stands in for the package's librosa: logs calls, returns a marker."""

    def __init__(self, fail=None):
        self.calls = []
        self.fail = fail

    def resample(self, y, **kwargs):
        self.calls.append((y.copy(), list(kwargs.items())))
        if self.fail is not None:
            raise self.fail
        return np.full(7, 0.25, dtype=np.float32)


def stdout_lines(capsys):
    out = capsys.readouterr().out
    return out.splitlines()


# ---------------------------------------------------------------- audio files

@pytest.fixture
def audio_dir(tmp_path):
    rng = np.random.default_rng(5)
    mono = (rng.standard_normal(300) * 0.3).astype(np.float32)
    stereo = (rng.standard_normal((250, 2)) * 0.3).astype(np.float32)
    files = {
        "mono_float": (mono, 16000, "FLOAT", "x.wav"),
        "mono_pcm16": (mono, 16000, "PCM_16", "x.wav"),
        "stereo_pcm16": (stereo, 16000, "PCM_16", "x.wav"),
        "mono_8k": (mono, 8000, "PCM_16", "x.wav"),
        "stereo_8k": (stereo, 8000, "FLOAT", "x.wav"),
        "flac": (mono, 16000, "PCM_16", "x.flac"),
        "no_frames_8k": (np.zeros(0, np.float32), 8000, "PCM_16", "x.wav"),
        "loud_float": (np.array([1.5, -2.0, 0.5], np.float32), 16000, "FLOAT", "x.wav"),
    }
    paths = {}
    for name, (data, sr, subtype, fname) in files.items():
        path = str(tmp_path / (name + "_" + fname))
        sf.write(path, data, sr, subtype=subtype)
        paths[name] = path
    (tmp_path / "empty.wav").write_bytes(b"")
    paths["empty"] = str(tmp_path / "empty.wav")
    (tmp_path / "corrupt.wav").write_bytes(b"RIFF\x10\x00\x00\x00WAVEjunkjunkjunk" + bytes(range(64)))
    paths["corrupt"] = str(tmp_path / "corrupt.wav")
    (tmp_path / "folder.wav").mkdir()
    paths["folder"] = str(tmp_path / "folder.wav")
    paths["missing"] = str(tmp_path / "missing.wav")
    (tmp_path / "pcm.raw").write_bytes(bytes(32))
    paths["raw"] = str(tmp_path / "pcm.raw")
    return paths


READABLE = [
    ("mono_float", "float32"), ("mono_pcm16", "float32"), ("stereo_pcm16", "float32"),
    ("mono_8k", "float64"), ("mono_pcm16", "int16"), ("stereo_pcm16", "int32"),
    ("flac", "float32"), ("no_frames_8k", "float32"), ("loud_float", "int16"),
    ("mono_pcm16", np.float64), ("stereo_8k", "float32"),
]


@pytest.mark.parametrize("name,dtype", READABLE)
def test_safe_sf_read_matches_soundfile(audio_dir, capsys, name, dtype):
    expected, expected_sr = sf.read(audio_dir[name], dtype=dtype)
    data, sr = bk._safe_sf_read(audio_dir[name], dtype)
    assert type(sr) is int and sr == expected_sr
    assert data.dtype == expected.dtype and data.shape == expected.shape
    np.testing.assert_array_equal(data, expected)
    assert capsys.readouterr().out == ""


@pytest.mark.parametrize("name,dtype", [
    ("missing", "float32"), ("missing", "int16"), ("empty", "float32"), ("corrupt", "float32"),
    ("folder", "float32"), ("raw", "float32"), ("mono_pcm16", "int8"), ("mono_pcm16", "no-such-type"),
])
def test_safe_sf_read_failure_gives_silence_and_one_warning(audio_dir, capsys, name, dtype):
    expected_line = ref_sf_read_failure(audio_dir[name], dtype)
    first = bk._safe_sf_read(path=audio_dir[name], dtype=dtype)
    second = bk._safe_sf_read(audio_dir[name], dtype)
    assert stdout_lines(capsys) == [expected_line, expected_line]
    for data, sr in (first, second):
        assert type(sr) is int and sr == 16000
        assert data.dtype == np.float32 and data.shape == (0,)
    assert first[0] is not second[0]


def test_safe_sf_read_takes_path_objects_and_reports_them(audio_dir, capsys):
    data, sr = bk._safe_sf_read(pathlib.Path(audio_dir["mono_float"]))
    np.testing.assert_array_equal(data, sf.read(audio_dir["mono_float"], dtype="float32")[0])
    missing = pathlib.Path(audio_dir["missing"])
    bk._safe_sf_read(missing)
    assert stdout_lines(capsys) == [ref_sf_read_failure(missing)]
    bk._safe_sf_read(None)
    assert stdout_lines(capsys) == ["[Warning] sf.read failed for None: Invalid file: None"]


def test_warnings_go_to_the_current_stdout(audio_dir, monkeypatch):
    import io
    import sys
    replaced = io.StringIO()
    monkeypatch.setattr(sys, "stdout", replaced)
    bk._safe_sf_read(audio_dir["missing"])
    assert replaced.getvalue() == ref_sf_read_failure(audio_dir["missing"]) + "\n"


def refuse_to_resample(y, **kwargs):
    raise ValueError("bad filter")


def read_as_rir(path):
    return bk.IterableSeparationDataset(speakers_map={"s": ["a", "b"]})._load_and_resample_rir(path)


# A file name that is not valid UTF-8 reaches the interpreter with surrogate
# escapes; the warning line carries it as the interpreter's print does.
@pytest.mark.parametrize("reader,written,expected", [
    (bk._safe_sf_read, False, lambda path: "[Warning] sf.read failed for " + path + ": Error opening "),
    (lambda path: bk._load_audio(path, 16000), True,
     lambda path: "[Warning] failed resample audio " + path + ": bad filter"),
    (read_as_rir, True, lambda path: "[Warning] failed resample RIR " + path + ": bad filter"),
])
def test_warnings_name_undecodable_paths(audio_dir, monkeypatch, reader, written, expected):
    import io
    import sys
    path = os.path.join(os.path.dirname(audio_dir["missing"]), os.fsdecode(b"odd\xff.wav"))
    if written:
        sf.write(os.fsencode(path), np.ones(40, np.float32), 8000)
    line = expected(path)
    monkeypatch.setattr(bk.librosa, "resample", refuse_to_resample)
    replaced = io.StringIO()
    monkeypatch.setattr(sys, "stdout", replaced)
    reader(path)
    printed = replaced.getvalue()
    assert printed.startswith(line) and printed.endswith("\n") and printed.count("\n") == 1


def test_an_error_text_naming_an_undecodable_path_is_printed_as_is(audio_dir, monkeypatch):
    import io
    import sys
    path = os.path.join(os.path.dirname(audio_dir["missing"]), os.fsdecode(b"odd\xff.wav"))
    sf.write(os.fsencode(path), np.ones(40, np.float32), 8000)

    def refuse_naming_the_file(y, **kwargs):
        raise ValueError("no filter for " + path)

    monkeypatch.setattr(bk.librosa, "resample", refuse_naming_the_file)
    replaced = io.StringIO()
    monkeypatch.setattr(sys, "stdout", replaced)
    data, sr = bk._load_audio(path, 16000)
    assert sr == 8000 and data.size == 40
    assert replaced.getvalue() == "[Warning] failed resample audio " + path + ": no filter for " + path + "\n"


def test_load_audio_at_target_rate_reads_without_resampling(audio_dir, monkeypatch, capsys):
    resampler = RecordingResampler()
    monkeypatch.setattr(bk, "librosa", resampler)
    for name in ("mono_float", "mono_pcm16"):
        data, sr = bk._load_audio(audio_dir[name], 16000)
        np.testing.assert_array_equal(data, sf.read(audio_dir[name], dtype="float32")[0])
        assert data.dtype == np.float32 and data.ndim == 1 and sr == 16000
    assert resampler.calls == []
    assert capsys.readouterr().out == ""


def test_load_audio_keeps_the_first_channel_only(audio_dir):
    data, sr = bk._load_audio(path=audio_dir["stereo_pcm16"], target_sr=16000)
    full = sf.read(audio_dir["stereo_pcm16"], dtype="float32")[0]
    np.testing.assert_array_equal(data, full[:, 0])
    assert data.dtype == np.float32 and data.ndim == 1 and data.flags.c_contiguous and sr == 16000


@pytest.mark.parametrize("name", ["mono_8k", "stereo_8k"])
def test_load_audio_resamples_other_rates_with_kaiser_fast(audio_dir, monkeypatch, name):
    resampler = RecordingResampler()
    monkeypatch.setattr(bk, "librosa", resampler)
    data, sr = bk._load_audio(audio_dir[name], 16000)
    assert sr == 16000 and type(sr) is int
    np.testing.assert_array_equal(data, np.full(7, 0.25, dtype=np.float32))
    (y, kwargs), = resampler.calls
    first = sf.read(audio_dir[name], dtype="float32")[0]
    first = first[:, 0] if first.ndim == 2 else first
    np.testing.assert_array_equal(y, first)
    assert kwargs == [("orig_sr", 8000), ("target_sr", 16000), ("res_type", "kaiser_fast")]


def test_load_audio_with_the_real_resampler(audio_dir):
    data, sr = bk._load_audio(audio_dir["mono_8k"], 16000)
    assert sr == 16000 and data.dtype == np.float32 and data.size == 600


def test_load_audio_resampling_failure_keeps_the_file_rate(audio_dir, monkeypatch, capsys):
    monkeypatch.setattr(bk, "librosa", RecordingResampler(fail=ValueError("bad filter")))
    data, sr = bk._load_audio(audio_dir["mono_8k"], 16000)
    assert stdout_lines(capsys) == ["[Warning] failed resample audio " + audio_dir["mono_8k"] + ": bad filter"]
    assert sr == 8000
    np.testing.assert_array_equal(data, sf.read(audio_dir["mono_8k"], dtype="float32")[0])


def test_load_audio_resampling_interrupt_is_not_swallowed(audio_dir, monkeypatch):
    monkeypatch.setattr(bk, "librosa", RecordingResampler(fail=KeyboardInterrupt()))
    with pytest.raises(KeyboardInterrupt):
        bk._load_audio(audio_dir["mono_8k"], 16000)


@pytest.mark.parametrize("name,target,expected_sr,lines", [
    ("missing", 8000, 16000, 1),      # the failed read's rate, and only its warning
    ("no_frames_8k", 16000, 8000, 0),  # nothing to resample, nothing said
])
def test_load_audio_empty_signals_skip_resampling(audio_dir, monkeypatch, capsys, name, target, expected_sr, lines):
    resampler = RecordingResampler()
    monkeypatch.setattr(bk, "librosa", resampler)
    data, sr = bk._load_audio(audio_dir[name], target)
    assert data.dtype == np.float32 and data.shape == (0,) and sr == expected_sr
    assert resampler.calls == []
    assert len(stdout_lines(capsys)) == lines


def test_load_audio_reads_through_the_package_reader(monkeypatch):
    calls = []

    def reader(path, dtype="float64"):
        calls.append((path, dtype))
        return np.array([[0.5, 1], [0.25, 2]]), 16000.0

    monkeypatch.setattr(bk, "_safe_sf_read", reader)
    data, sr = bk._load_audio("any.wav", 16000)
    assert calls == [("any.wav", "float32")]
    np.testing.assert_array_equal(data, np.array([0.5, 0.25], np.float32))
    assert data.dtype == np.float32 and type(sr) is int and sr == 16000


@pytest.mark.parametrize("result,error", [
    ((np.zeros(3, np.float32),), ValueError),
    ((np.zeros(3, np.float32), 16000, 1), ValueError),
    (5, TypeError),
])
def test_load_audio_unpacks_exactly_two_values(monkeypatch, result, error):
    monkeypatch.setattr(bk, "_safe_sf_read", lambda path, dtype: result)
    with pytest.raises(error):
        bk._load_audio("any.wav", 16000)


# ---------------------------------------------------------------- convolution

@pytest.mark.parametrize("signal,ir,expected", [
    ([1, 2, 3], [1], [1, 2, 3]),
    ([1, 2, 3], [0, 1], [0, 1, 2, 3]),
    ([2], [3], [6]),
    ([1, 1, 1], [1, 1, 1], [1, 2, 3, 2, 1]),
])
@pytest.mark.parametrize("dtype", [np.float32, np.float64, np.int64])
def test_fft_convolve_small_cases(signal, ir, expected, dtype):
    out = bk._fft_convolve(np.array(signal, dtype), ir=np.array(ir, dtype))
    assert out.dtype == np.float32
    np.testing.assert_allclose(out, expected, atol=1e-5)


@pytest.mark.parametrize("n_sig,n_ir", [(4096, 1), (4096, 2), (1000, 37), (48000, 8000), (3, 500)])
@pytest.mark.parametrize("dtype", [np.float32, np.float64])
def test_fft_convolve_matches_direct_convolution(n_sig, n_ir, dtype):
    rng = np.random.default_rng(n_sig + n_ir)
    signal = rng.standard_normal(n_sig).astype(dtype)
    ir = (rng.standard_normal(n_ir) * np.exp(-np.arange(n_ir) / 500.0)).astype(dtype)
    expected = np.convolve(signal.astype(np.float64), ir.astype(np.float64))
    out = bk._fft_convolve(signal, ir)
    assert out.dtype == np.float32 and out.shape == expected.shape
    scale = np.max(np.abs(expected))
    np.testing.assert_allclose(out, expected, atol=2e-6 * scale * np.log2(out.size + 1), rtol=0)


def test_fft_convolve_leaves_inputs_untouched_and_reads_views():
    rng = np.random.default_rng(2)
    base = rng.standard_normal(200).astype(np.float32)
    signal = base[::2]            # strided view
    ir = base[:5][::-1]           # negative stride
    before = (base.copy(), signal.copy(), ir.copy())
    out = bk._fft_convolve(signal, ir)
    np.testing.assert_allclose(out, np.convolve(signal, ir), atol=1e-5)
    for now, then in zip((base, signal, ir), before):
        np.testing.assert_array_equal(now, then)


class NoSize:
    """Reading its size fails: shows whether `ir` is looked at at all."""

    @property
    def size(self):
        raise AssertionError("size read")


@pytest.mark.parametrize("signal,ir", [
    (np.zeros(0, np.float32), NoSize()),
    (np.ones(3, np.float32), np.zeros(0, np.float64)),
    (np.zeros(0, np.float64), np.ones(4)),
])
def test_fft_convolve_empty_input_gives_empty_float32(signal, ir):
    out = bk._fft_convolve(signal, ir)
    assert out.dtype == np.float32 and out.shape == (0,)


def test_fft_convolve_refuses_objects_without_size():
    with pytest.raises(AttributeError):
        bk._fft_convolve([1.0, 2.0], np.ones(2))


# ---------------------------------------------------------------- levels

@pytest.mark.parametrize("x,eps", [
    (np.zeros(10, np.float32), 1e-9),
    (np.full(5, 0.5, np.float32), 1e-9),
    (np.full(5, 0.5), 0.0),
    (np.array([30000, -32000, 25000], np.int16), 1e-9),
    (np.array([3, 4], np.int32), 1e-9),
    (np.random.default_rng(1).standard_normal(20001).astype(np.float32), 1e-9),
    (np.random.default_rng(1).standard_normal((40, 7)), 1e-3),
    (np.arange(12, dtype=np.float32)[::3], 1e-9),
    (np.array([1.0, 2.0], np.float16), 1e-9),
    (np.array([1.0, np.nan]), 1e-9),
])
def test_rms_matches_the_float64_formula(x, eps):
    level = bk.rms(x, eps=eps)
    assert type(level) is float
    np.testing.assert_allclose(level, ref_rms(x, eps), rtol=1e-15)


@pytest.mark.parametrize("x", [None, np.zeros(0, np.float32), np.zeros((0, 3))])
def test_rms_of_nothing_is_zero(x):
    assert bk.rms(x) == 0.0 and type(bk.rms(x)) is float


def test_rms_of_zeros_has_the_floor():
    assert bk.rms(np.zeros(4, np.float32)) == pytest.approx(np.sqrt(1e-9))


PRESERVE_CASES = [
    (np.full(4, 0.5), np.full(4, 0.25, np.float32), 1e-12),
    (np.zeros(0, np.float32), np.full(3, 0.25, np.float32), 1e-12),
    (np.full(3, 0.5), np.zeros(3, np.float32), 1e-12),
    (np.random.default_rng(3).standard_normal(999), np.random.default_rng(4).standard_normal(999), 1e-12),
    (np.full(3, 0.5, np.float32), np.array([100, -200, 300], np.int16), 1e-12),
    (np.full(3, 1e30), np.full(3, 1e-20, np.float32), 1e-12),
]


@pytest.mark.parametrize("orig,processed,eps", PRESERVE_CASES)
def test_preserve_rms_matches_the_formula(orig, processed, eps):
    before = processed.copy()
    out = bk.preserve_rms(orig, processed, eps)
    expected = ref_preserve_rms(orig, processed, eps)
    assert out.dtype == expected.dtype and out is not processed
    np.testing.assert_allclose(out, expected, rtol=1e-6)
    np.testing.assert_array_equal(processed, before)


@pytest.mark.parametrize("processed,eps", [
    (np.zeros(0, np.float32), 1e-12),
    (np.full(3, 0.1, np.float32), 1.0),
])
def test_preserve_rms_returns_quiet_signals_themselves(processed, eps):
    assert bk.preserve_rms(np.ones(3), processed, eps=eps) is processed


def test_level_functions_measure_through_the_package_rms(monkeypatch):
    measured = []

    def fake_rms(x, eps=1e-9):
        measured.append(x)
        return 2.0

    monkeypatch.setattr(bk, "rms", fake_rms)
    a, b = np.ones(3, np.float32), np.full(3, 3.0, np.float32)
    np.testing.assert_array_equal(bk.preserve_rms(a, b), b)
    np.testing.assert_allclose(bk._scale_for_sir(a, b, 20.0), b * 0.1, rtol=1e-6)
    assert [m is x for m, x in zip(measured, (a, b, a, b))] == [True] * 4


@pytest.mark.parametrize("target,interferer,sir_db,expected", [
    (np.ones(4), np.full(4, 2.0, np.float32), 20.0, 0.1),
    (np.ones(4), np.full(4, 2.0, np.float32), 0.0, 1.0),
    (np.ones(4), np.full(4, 2.0), -20.0, 10.0),
    (np.zeros(0), np.full(4, 2.0), 6.0, 0.0),
])
def test_scale_for_sir_table(target, interferer, sir_db, expected):
    out = bk._scale_for_sir(target, interferer, sir_db)
    assert out.dtype == np.float32 and out.shape == interferer.shape
    np.testing.assert_allclose(out, expected, rtol=2e-6, atol=1e-6)


@pytest.mark.parametrize("seed,sir_db", [(0, -5.0), (1, 3.7), (2, 12.0)])
@pytest.mark.parametrize("dtype", [np.float32, np.float64])
def test_scale_for_sir_sets_the_ratio(seed, sir_db, dtype):
    rng = np.random.default_rng(seed)
    target = rng.standard_normal(1500).astype(np.float32)
    interferer = (rng.standard_normal(1500) * 3).astype(dtype)
    before = interferer.copy()
    out = bk._scale_for_sir(target, interferer, sir_db)
    np.testing.assert_array_equal(out, ref_scale_for_sir(target, interferer, sir_db))
    assert 20 * np.log10(ref_rms(target) / ref_rms(out)) == pytest.approx(sir_db, abs=1e-4)
    np.testing.assert_array_equal(interferer, before)


@pytest.mark.parametrize("interferer,shape", [(np.zeros(0), (0,)), (np.zeros(5, np.float64), (5,))])
def test_scale_for_sir_silent_interferers_stay_silent(interferer, shape):
    out = bk._scale_for_sir(np.ones(5), interferer, 10.0)
    assert out.dtype == np.float32 and out.shape == shape and not out.any()


# ---------------------------------------------------------------- noise at an SNR

@pytest.mark.parametrize("n_clean,n_noise,draws", [
    (50, 50, [(0, 0)]),
    (50, 173, [(0, 123)]),
    (50, 17, []),
    (1, 1, [(0, 0)]),
])
@pytest.mark.parametrize("dtype", [np.float32, np.float64])
def test_mix_noise_at_snr_matches_the_formula_and_draws(n_clean, n_noise, draws, dtype):
    gen = np.random.default_rng(n_clean * 1000 + n_noise)
    clean = gen.standard_normal(n_clean).astype(dtype)
    noise = (gen.standard_normal(n_noise) * 0.2).astype(dtype)
    kept = clean.copy(), noise.copy()
    rng, ref_rng = recording_random(9), random.Random(9)
    out = bk._mix_noise_at_snr(clean, noise, 7.5, rng)
    expected = ref_mix_noise_at_snr(clean, noise, 7.5, ref_rng)
    assert [c[1:3] for c in rng.calls] == draws
    assert rng.getstate() == ref_rng.getstate()
    assert out.dtype == np.float32 and out.shape == (n_clean,)
    np.testing.assert_array_equal(out, expected)
    np.testing.assert_array_equal(clean, kept[0])
    np.testing.assert_array_equal(noise, kept[1])


def test_mix_noise_at_snr_uses_the_drawn_window_and_the_level():
    clean = np.sin(np.arange(4000) / 7.0).astype(np.float32)
    noise = np.random.default_rng(3).standard_normal(10000).astype(np.float32)
    rng = recording_random(11)
    mixed = bk._mix_noise_at_snr(clean=clean, noise=noise, snr_db=12.0, rng=rng)
    (_, _, _, start), = rng.calls
    added = mixed - clean
    gain = added[np.argmax(np.abs(noise[start:start + 4000]))] / noise[start + np.argmax(np.abs(noise[start:start + 4000]))]
    np.testing.assert_allclose(added, noise[start:start + 4000] * gain, rtol=1e-4, atol=1e-6)
    assert 20 * np.log10(ref_rms(clean) / ref_rms(added)) == pytest.approx(12.0, abs=1e-3)


def test_mix_noise_at_snr_repeats_a_short_noise_from_its_start():
    clean = np.ones(7, np.float32)
    noise = np.array([1.0, -2.0, 3.0], np.float32)
    rng = recording_random(0)
    out = bk._mix_noise_at_snr(clean, noise, 0.0, rng)
    seg = np.array([1, -2, 3, 1, -2, 3, 1], np.float32)
    assert rng.calls == []
    np.testing.assert_allclose(out - clean, seg / np.sqrt(np.mean(seg ** 2) + 1e-9), rtol=1e-5)


def test_mix_noise_at_snr_known_values():
    rng = recording_random(1)
    out = bk._mix_noise_at_snr(np.ones(6, np.float32), np.ones(6, np.float32), 20.0, rng)
    np.testing.assert_allclose(out, 1.1, rtol=1e-6)
    assert [c[:3] for c in rng.calls] == [("randint", 0, 0)]
    silent = bk._mix_noise_at_snr(np.full(4, 0.5), np.zeros(9), 3.0, random.Random(0))
    np.testing.assert_array_equal(silent, np.full(4, 0.5, np.float32))


def test_mix_noise_at_snr_empty_clean_is_returned_without_a_draw():
    clean = np.zeros(0, np.float64)
    rng = recording_random(0)
    assert bk._mix_noise_at_snr(clean, np.ones(5), 10.0, rng) is clean
    assert rng.calls == []


def test_mix_noise_at_snr_empty_noise_fails_before_drawing():
    rng = recording_random(0)
    with pytest.raises(ZeroDivisionError):
        bk._mix_noise_at_snr(np.ones(5, np.float32), np.zeros(0, np.float32), 10.0, rng)
    assert rng.calls == []


def test_mix_noise_at_snr_same_seed_same_window():
    clean = np.ones(100, np.float32)
    noise = np.random.default_rng(0).standard_normal(5000).astype(np.float32)
    a = bk._mix_noise_at_snr(clean, noise, 5.0, random.Random(42))
    b = bk._mix_noise_at_snr(clean, noise, 5.0, random.Random(42))
    np.testing.assert_array_equal(a, b)


@pytest.mark.parametrize("clean,noise,snr_db", [
    (np.ones(8, np.float32), np.linspace(0, 1, 20), 5.0),              # mixed dtypes
    (np.ones(8, np.float32), np.linspace(0, 1, 20, dtype=np.float32), np.float32(5.0)),
    (np.ones((2, 4)), np.ones((5, 4)), 5.0),                          # shapes of rows
    (np.arange(16, dtype=np.float32)[::2], np.linspace(0, 1, 20, dtype=np.float32), 5),
])
def test_mix_noise_at_snr_other_inputs_follow_numpy(clean, noise, snr_db):
    out = bk._mix_noise_at_snr(clean, noise, snr_db, random.Random(3))
    expected = ref_mix_noise_at_snr(clean, noise, snr_db, random.Random(3))
    assert out.dtype == np.float32 and out.shape == expected.shape
    np.testing.assert_allclose(out, expected, rtol=1e-6)


# ---------------------------------------------------------------- the dataset's truncating convolution

@pytest.fixture
def dataset():
    return bk.IterableSeparationDataset(speakers_map={"a": ["x.wav", "y.wav"]})


@pytest.mark.parametrize("signal,ir,expected", [
    ([1, 2, 3], [0, 1], [0, 1, 2]),
    ([1, 2, 3], [1], [1, 2, 3]),
    ([2], [3], [6]),
    ([1, 0, 0, 0, 0], [0.5, 0.25, 0.125], [0.5, 0.25, 0.125, 0, 0]),
])
def test_fft_convolve_truncate_keeps_the_dry_signal_length(dataset, signal, ir, expected):
    out = dataset._fft_convolve_truncate(np.array(signal, np.float64), np.array(ir, np.float32))
    assert out.dtype == np.float32 and out.shape == (len(signal),)
    np.testing.assert_allclose(out, expected, atol=1e-6)


@pytest.mark.parametrize("signal,ir", [
    (np.zeros(0, np.float32), NoSize()),
    (np.ones(4, np.float32), np.zeros(0, np.float32)),  # an empty impulse response: empty, no crash
])
def test_fft_convolve_truncate_empty_inputs(dataset, signal, ir):
    out = dataset._fft_convolve_truncate(signal, ir)
    assert out.dtype == np.float32 and out.shape == (0,)


def test_fft_convolve_truncate_convolves_through_the_package_function(dataset, monkeypatch):
    calls = []

    def fake(signal, ir):
        calls.append((signal, ir))
        return np.arange(10, dtype=np.float64)

    monkeypatch.setattr(bk, "_fft_convolve", fake)
    signal, ir = np.ones(4, np.float32), np.ones(2, np.float32)
    out = dataset._fft_convolve_truncate(signal, ir)
    assert len(calls) == 1 and calls[0][0] is signal and calls[0][1] is ir
    assert out.dtype == np.float32
    np.testing.assert_array_equal(out, [0, 1, 2, 3])
