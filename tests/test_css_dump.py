import os

import numpy as np
import pytest
import soundfile as sf

import leadvoice
from css_fakes import FakeTracker, ScriptedNetwork, tone
from leadvoice import CSSProcessor


def two_tones(window):
    n = window.size
    return [tone(n, 40), tone(n, 90)]


def processor(save_dir, **kwargs):
    tracker = FakeTracker()
    return CSSProcessor(ScriptedNetwork(two_tones, padding=9600), tracker, segments_save_dir=save_dir,
                        sisdr_threshold=1e9, sisdr_threshold_prev=1e9, max_speakers=2, **kwargs)


@pytest.fixture(autouse=True)
def unlike(monkeypatch):
    monkeypatch.setattr(leadvoice, "cosine_similarity", lambda a, b: 0.0)


def test_folders_and_files_of_a_short_last_window(tmp_path):
    # 38401 samples: window 1 holds the 19201 samples from 19200.
    n = 38401
    mix = 1.5 * np.sin(np.arange(n) * 0.01)      # peaks beyond full scale
    _, records = processor(str(tmp_path)).process(mix)
    assert sorted(os.listdir(tmp_path)) == ["segment_001_0.00s-2.40s", "segment_002_1.20s-2.40s"]
    for folder, record in zip(sorted(os.listdir(tmp_path)), records):
        assert sorted(os.listdir(tmp_path / folder)) == ["mix.wav", "separated_0.wav", "separated_1.wav"]
        length = record["end_sample"] - record["start_sample"]
        for name in os.listdir(tmp_path / folder):
            info = sf.info(str(tmp_path / folder / name))
            assert (info.frames, info.samplerate, info.channels, info.subtype) == (length, 16000, 1, "PCM_16")
    written = sf.read(str(tmp_path / "segment_002_1.20s-2.40s" / "mix.wav"), dtype="int16")[0]
    expected = np.clip(np.round(mix[19200:] * 32768), -32768, 32767)
    np.testing.assert_allclose(written, expected, atol=1)     # loud samples saturate, never wrap
    assert written.max() == 32767 and written.min() == -32768
    signal = sf.read(str(tmp_path / "segment_001_0.00s-2.40s" / "separated_1.wav"))[0]
    np.testing.assert_allclose(signal, records[0]["separated_signals"][1], atol=1 / 32767)


def test_folder_names_follow_the_sample_rate(tmp_path):
    processor(str(tmp_path), sample_rate=8000).process(np.sin(np.arange(40000) * 0.01))
    # At 8000 Hz the windows are 19200 samples long every 9600 samples.
    assert sorted(os.listdir(tmp_path))[:2] == ["segment_001_0.00s-2.40s", "segment_002_1.20s-3.60s"]
    assert sorted(os.listdir(tmp_path))[-1] == "segment_004_3.60s-5.00s"


def test_ensure_dir_is_looked_up_and_given_each_folder(tmp_path, monkeypatch):
    seen = []
    real = leadvoice.ensure_dir
    monkeypatch.setattr(leadvoice, "ensure_dir", lambda path: (seen.append(path), real(path))[1])
    processor(str(tmp_path)).process(np.sin(np.arange(38400) * 0.01))
    assert seen == [os.path.join(str(tmp_path), "segment_001_0.00s-2.40s")]


def test_no_dump_without_a_folder(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    processor(None).process(np.sin(np.arange(38400) * 0.01))
    assert os.listdir(tmp_path) == []


def test_empty_folder_name_dumps_into_the_working_directory(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    processor("").process(np.sin(np.arange(38400, dtype=np.float32) * 0.01))
    assert os.listdir(tmp_path) == ["segment_001_0.00s-2.40s"]


def test_dump_failure_ends_processing_and_keeps_earlier_files(tmp_path, monkeypatch):
    real = leadvoice.ensure_dir
    calls = []

    def flaky(path):
        calls.append(path)
        if len(calls) == 2:
            raise PermissionError("no room")
        real(path)

    monkeypatch.setattr(leadvoice, "ensure_dir", flaky)
    with pytest.raises(PermissionError, match="no room"):
        processor(str(tmp_path)).process(np.sin(np.arange(57600) * 0.01))
    assert os.listdir(tmp_path) == ["segment_001_0.00s-2.40s"]


def test_a_full_disk_ends_processing_and_leaves_no_cut_wav(small_tmpfs):
    # A window's three files take 57 pages: the first window fits, the second does not.
    full = small_tmpfs("full", size="256k")
    if full is None:
        pytest.skip("this process may not mount")
    with pytest.raises(OSError, match="No space left on device"):
        processor(str(full)).process(np.sin(np.arange(57600) * 0.01))
    folders = sorted(os.listdir(full))
    assert folders[0] == "segment_001_0.00s-2.40s" and len(folders) == 2
    names = {folder: sorted(os.listdir(full / folder)) for folder in folders}
    assert names[folders[0]] == ["mix.wav", "separated_0.wav", "separated_1.wav"]
    for folder, files in names.items():
        assert not [n for n in files if n.startswith(".")], folder
        assert all(sf.info(str(full / folder / n)).frames == 38400 for n in files), (folder, files)
