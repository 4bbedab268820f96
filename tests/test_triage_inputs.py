"""The utterance list (parse_scp) and the 16 kHz loader (load_audio_16k)."""
import os

import numpy as np
import pytest
import soundfile as sf

import triageflow
from speech_resample import librosa


def scp_of(tmp_path, raw):
    path = tmp_path / "list.scp"
    path.write_bytes(raw.encode("utf-8") if isinstance(raw, str) else raw)
    return str(path)


@pytest.mark.parametrize("raw, entries, warnings", [
    ("  utt1\t/data/a b.wav \r\na  b  c\n  # note\nutt#1 /x.wav\n\t \nutt2\n",
     [("utt1", "/data/a b.wav"), ("a", "b  c"), ("utt#1", "/x.wav")], ["[警告] scp 第6行格式错误，跳过: utt2"]),
    # A lone carriage return ends a line too; every physical line counts.
    ("a x.wav\rbad\r\n\nworse\n", [("a", "x.wav")],
     ["[警告] scp 第2行格式错误，跳过: bad", "[警告] scp 第4行格式错误，跳过: worse"]),
    # Unicode whitespace splits and strips; the zero-width space does not.
    ("\u3000u1\u00a0p\u2003q\u3000\nu\u200b2\n", [("u1", "p\u2003q")], ["[警告] scp 第2行格式错误，跳过: u\u200b2"]),
    # The byte-order mark stays: the first line is no comment.
    ("\ufeff# a b\n", [("\ufeff#", "a b")], []),
    ("dup a.wav\ndup a.wav\n", [("dup", "a.wav"), ("dup", "a.wav")], []),
    ("", [], []),
])
def test_parse_scp(tmp_path, capsys, raw, entries, warnings):
    assert triageflow.parse_scp(scp_of(tmp_path, raw)) == entries
    assert capsys.readouterr().out.split("\n")[:-1] == warnings


def test_missing_list(tmp_path):
    for path in (str(tmp_path / "none.scp"), str(tmp_path)):
        with pytest.raises(FileNotFoundError) as error:
            triageflow.parse_scp(scp_path=path)
        assert str(error.value) == "scp 文件不存在: " + path


# Bytes that are not UTF-8 are an id's or a path's file-system bytes: they come
# back as os.fsdecode spells them, and split or strip nothing (a lone 0xA0 or
# 0x85 byte is not U+00A0 or U+0085).
def test_bytes_that_are_not_utf8(tmp_path):
    entries = triageflow.parse_scp(scp_of(tmp_path, b"u0 a.wav\nu1 \xff.wav\n\xa0u\x85 b\xa0\n"))
    assert [(os.fsencode(i), os.fsencode(p)) for i, p in entries] == [
        (b"u0", b"a.wav"), (b"u1", b"\xff.wav"), (b"\xa0u\x85", b"b\xa0")]
    scp = os.path.join(os.fsencode(tmp_path), b"list\xff.scp")
    open(scp, "wb").write(b"u x.wav\n")
    assert triageflow.parse_scp(os.fsdecode(scp)) == triageflow.parse_scp(scp) == [("u", "x.wav")]


def test_name_that_is_not_utf8_reads_as_blendkit_reads_it(tmp_path):
    from utility import blendkit
    path = os.fsdecode(os.path.join(os.fsencode(tmp_path), b"caf\xe9 \xff.wav"))
    signal = np.random.default_rng(1).uniform(-0.5, 0.5, (1600, 2))
    sf.write(os.fsencode(path), signal, 16000, subtype="FLOAT")
    audio, sr = triageflow.load_audio_16k(path)
    expected, expected_sr = blendkit._load_audio(path, 16000)
    assert (sr, audio.dtype) == (expected_sr, np.float32)
    np.testing.assert_array_equal(audio, expected)
    np.testing.assert_array_equal(triageflow.load_audio_16k(os.fsencode(path))[0], audio)


@pytest.fixture
def no_resampling(monkeypatch):
    class Refuse:
        @staticmethod
        def resample(*args, **kwargs):
            raise AssertionError("16 kHz audio must not be resampled")

    monkeypatch.setattr(triageflow, "librosa", Refuse)


@pytest.mark.parametrize("frames", [16000, 0])
def test_16k_mono_is_read_as_is(tmp_path, no_resampling, frames):
    signal = np.random.default_rng(0).uniform(-0.9, 0.9, frames)
    path = str(tmp_path / "a.wav")
    sf.write(path, signal, 16000)
    audio, sr = triageflow.load_audio_16k(path)
    assert type(sr) is int and sr == 16000
    assert audio.dtype == np.float32 and audio.shape == (frames,)
    np.testing.assert_array_equal(audio, sf.read(path)[0].astype(np.float32))


@pytest.mark.parametrize("rate, frames", [(44100, 44100 * 2 + 7), (8000, 8001), (48000, 4800)])
def test_other_rates_keep_the_first_channel_and_resample(tmp_path, rate, frames):
    rng = np.random.default_rng(rate)
    stereo = np.stack([0.5 * np.sin(np.arange(frames) * 0.01), rng.uniform(-0.9, 0.9, frames)], axis=1)
    path = str(tmp_path / "s.wav")
    sf.write(path, stereo, rate)
    audio, sr = triageflow.load_audio_16k(wav_path=path)
    assert sr == 16000 and audio.dtype == np.float32
    assert len(audio) == -(-frames * 16000 // rate)
    expected = librosa.resample(sf.read(path)[0][:, 0], orig_sr=rate, target_sr=16000)
    np.testing.assert_array_equal(audio, expected.astype(np.float32))


def test_resampler_is_the_module_name_at_call_time(tmp_path, monkeypatch):
    path = str(tmp_path / "a.wav")
    sf.write(path, np.zeros(441), 44100)
    calls = []

    class Recorder:
        @staticmethod
        def resample(y, **kwargs):
            calls.append((y.dtype, y.shape, kwargs))
            return np.ones(3)

    monkeypatch.setattr(triageflow, "librosa", Recorder)
    audio, _ = triageflow.load_audio_16k(path)
    assert calls == [(np.float64, (441,), {"orig_sr": 44100, "target_sr": 16000})]
    assert audio.dtype == np.float32 and list(audio) == [1.0, 1.0, 1.0]


@pytest.mark.parametrize("content", [b"", b"RIFF\x24\x00\x00\x00WAVEfmt garbage"])
def test_unreadable_files_raise(tmp_path, content):
    path = tmp_path / "bad.wav"
    path.write_bytes(content)
    with pytest.raises(OSError, match=r"^Error opening '" + str(path)):
        triageflow.load_audio_16k(str(path))
    assert os.path.exists(path)
