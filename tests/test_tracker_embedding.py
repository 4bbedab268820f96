"""Speech-gated speaker embedding: detection, the temporary wav and the model call."""
import os
import tempfile

import numpy as np
import pytest
import soundfile as sf

from helpers import packed_field, unaligned_copy
from leadvoice import SpeakerTracker

HOP = 160


class FileModel:
    """Reads the file it is given, as a real model would, and answers `reply`."""

    def __init__(self, reply=None, error=None):
        self.reply = np.arange(4, dtype=np.float32) if reply is None else reply
        self.error = error
        self.seen = []

    def extract_embedding(self, path):
        data, rate = sf.read(path, dtype="float32")
        self.seen.append(dict(path=path, rate=rate, data=data, subtype=sf.info(path).subtype))
        if self.error is not None:
            raise self.error
        return self.reply


@pytest.fixture
def temp_dir(tmp_path, monkeypatch):
    monkeypatch.setattr(tempfile, "tempdir", str(tmp_path))
    return tmp_path


@pytest.fixture
def tracker(temp_dir, tracker):
    tracker.wespeaker = FileModel()
    return tracker


def leftovers(temp_dir):
    return [p for p in os.listdir(temp_dir) if p.startswith("spk_emb_")]


@pytest.mark.parametrize("audio, kwargs, expected", [
    (np.ones(399, np.float32), {}, (None, 0)),
    (np.full(400, 0.5, np.float32), {}, (None, HOP)),
    (np.full(400, 1e-4, np.float32), {}, (None, 0)),      # energy 1e-8 is below the floor
    (np.zeros(16000, np.float32), {}, (None, 0)),
    (np.zeros(16000, np.float32), {"min_speech_duration": 0}, (None, 0)),
    # 98 speech frames make 15680 counted samples: one more needed fails.
    (np.full(16000, 0.1, np.float32), {"min_speech_duration": 15681 / 16000}, (None, 98 * HOP)),
])
def test_results_without_embedding(tracker, temp_dir, audio, kwargs, expected):
    embedding, samples = tracker.extract_embedding_from_array(audio, **kwargs)
    assert (embedding, samples) == expected and type(samples) is int
    assert tracker.wespeaker.seen == []
    assert leftovers(temp_dir) == []


# The model gets the temporary path as os.fsdecode spells it; one that reads
# it by its file-system bytes finds the file.
def test_temporary_folder_whose_name_is_not_utf8(tracker, tmp_path, monkeypatch):
    folder = os.path.join(os.fsencode(tmp_path), b"tmp\xff")
    os.mkdir(folder)
    monkeypatch.setattr(tempfile, "tempdir", os.fsdecode(folder))
    read = tracker.wespeaker.extract_embedding
    monkeypatch.setattr(tracker.wespeaker, "extract_embedding", lambda path: read(os.fsencode(path)))
    embedding, _ = tracker.extract_embedding_from_array(np.full(16000, 0.1, np.float32), min_speech_duration=0.5)
    np.testing.assert_array_equal(embedding, np.arange(4, dtype=np.float32))
    (seen,) = tracker.wespeaker.seen
    assert os.path.dirname(seen["path"]) == folder and len(seen["data"]) == 15920
    assert os.listdir(folder) == []


def test_constant_signal_is_all_speech_and_reaches_the_model(tracker, temp_dir):
    audio = np.full(16000, 0.1, np.float32)
    embedding, samples = tracker.extract_embedding_from_array(audio, min_speech_duration=0.98)
    num_frames = (16000 - 400) // HOP + 1
    assert samples == HOP * (num_frames - 1) + 400 == 15920
    np.testing.assert_array_equal(embedding, np.arange(4, dtype=np.float32))
    (seen,) = tracker.wespeaker.seen
    assert os.path.basename(seen["path"]).startswith("spk_emb_") and seen["path"].endswith(".wav")
    assert os.path.dirname(seen["path"]) == str(temp_dir)
    assert (seen["rate"], seen["subtype"], len(seen["data"])) == (16000, "PCM_16", 15920)
    np.testing.assert_allclose(seen["data"], 0.1, atol=1 / 32768)
    assert leftovers(temp_dir) == []


def test_joined_signal_skips_silence_between_distant_bursts(tracker):
    audio = np.zeros(48000, np.float32)
    audio[8000:9600] = 0.3    # frames ~46..59
    audio[32000:33600] = -0.3  # frames ~196..209, far beyond the merge distance
    embedding, samples = tracker.extract_embedding_from_array(audio)
    data = tracker.wespeaker.seen[0]["data"]
    assert embedding is not None and samples == len(data) < 48000
    # Both bursts survive, with the margin of silence around each.
    assert np.isclose(data, 0.3, atol=1e-4).sum() == 1600
    assert np.isclose(data, -0.3, atol=1e-4).sum() == 1600


def test_strided_and_float64_views_give_the_same_signal(tracker):
    rng = np.random.default_rng(1)
    base = (rng.standard_normal(64000) * 0.1).astype(np.float32)
    contiguous = base[::2].copy()
    views = (base[::2], contiguous, base[::2].astype(np.float64), contiguous[::-1][::-1],
             unaligned_copy(contiguous), packed_field(contiguous))
    assert not views[4].flags.aligned and views[5].strides == (5,)
    results = [tracker.extract_embedding_from_array(a)[1] for a in views]
    assert len(set(results)) == 1 and results[0] > 0
    datas = [seen["data"] for seen in tracker.wespeaker.seen]
    for data in datas[1:]:
        np.testing.assert_array_equal(datas[0], data)


def test_file_uses_tracker_rate_and_saturates(tracker):
    tracker.sample_rate = 8000
    tracker.extract_embedding_from_array(np.full(8000, 3.0, np.float32), min_speech_duration=0.5)
    seen = tracker.wespeaker.seen[0]
    assert seen["rate"] == 8000
    assert seen["data"].max() == pytest.approx(32767 / 32768)


@pytest.mark.parametrize("reply, error, printed", [
    (None, None, ""),
    ([], None, ""),
    (np.array([]), None, ""),
    (["a", None], None, ""),   # object dtype
    (None, RuntimeError("model exploded"), "提取embedding失败: model exploded\n"),
    ([[1.0], [2.0, 3.0]], None, "提取embedding失败: "),  # ragged: numpy refuses it
])
def test_unusable_model_results(tracker, temp_dir, capsys, reply, error, printed):
    model = FileModel(error=error)
    model.reply = reply
    if reply is None and error is None:
        model.extract_embedding = lambda path: None
    tracker.wespeaker = model
    assert tracker.extract_embedding_from_array(np.full(16000, 0.1, np.float32)) == (None, 0)
    assert capsys.readouterr().out.startswith(printed)
    assert leftovers(temp_dir) == []


def test_temporary_file_facility_is_looked_up_at_call_time(tracker, temp_dir, monkeypatch):
    import leadvoice
    made = []
    real = tempfile.NamedTemporaryFile

    class Recording:
        def __getattr__(self, name):
            return getattr(tempfile, name)

        def NamedTemporaryFile(self, **kwargs):
            made.append(kwargs)
            return real(**kwargs)

    monkeypatch.setattr(leadvoice, "tempfile", Recording())
    tracker.extract_embedding_from_array(np.full(16000, 0.1, np.float32))
    assert made == [dict(prefix="spk_emb_", suffix=".wav", delete=False)]
    assert leftovers(temp_dir) == []


def test_errors_outside_exception_family_pass_through_and_clean_up(tracker, temp_dir):
    tracker.wespeaker = FileModel(error=KeyboardInterrupt())
    with pytest.raises(KeyboardInterrupt):
        tracker.extract_embedding_from_array(np.full(16000, 0.1, np.float32))
    assert leftovers(temp_dir) == []


def test_two_dimensional_model_result_is_kept_as_is(tracker):
    tracker.wespeaker = FileModel(reply=np.ones((1, 8), np.float64))
    embedding, _ = tracker.extract_embedding_from_array(np.full(16000, 0.1, np.float32))
    assert embedding.shape == (1, 8) and embedding.dtype == np.float64


@pytest.mark.parametrize("audio, error", [
    ([0.1] * 1000, TypeError),
    (np.ones(1000, np.int16), TypeError),
    (np.ones((2, 1000), np.float32), ValueError),
])
def test_bad_audio_is_refused(tracker, audio, error):
    with pytest.raises(error):
        tracker.extract_embedding_from_array(audio)


def test_stand_in_model_tells_talkers_apart(capsys):
    from leadvoice import cosine_similarity
    tracker = SpeakerTracker()
    t = np.arange(32000) / 16000
    low = (0.3 * np.sin(2 * np.pi * 220 * t) * (1 + np.sin(2 * np.pi * 3 * t))).astype(np.float32)
    high = (0.3 * np.sin(2 * np.pi * 3100 * t) * (1 + np.sin(2 * np.pi * 2 * t))).astype(np.float32)
    e_low1, _ = tracker.extract_embedding_from_array(low[:16000])
    e_low2, _ = tracker.extract_embedding_from_array(low[16000:])
    e_high, _ = tracker.extract_embedding_from_array(high)
    assert cosine_similarity(e_low1, e_low2) > 0.9
    assert cosine_similarity(e_low1, e_high) < 0.2


def test_the_model_reads_a_whole_file_that_keeps_the_temporary_files_permissions(tracker, temp_dir, monkeypatch):
    read = tracker.wespeaker.extract_embedding
    modes = []

    def model(path):
        modes.append(os.stat(path).st_mode & 0o777)
        assert [n for n in os.listdir(temp_dir) if n.startswith(".")] == []
        return read(path)

    monkeypatch.setattr(tracker.wespeaker, "extract_embedding", model)
    old = os.umask(0)
    try:
        embedding, _ = tracker.extract_embedding_from_array(np.full(16000, 0.1, np.float32))
    finally:
        os.umask(old)
    assert embedding is not None and modes == [0o600]  # private, as the temporary-file facility made it
    assert os.listdir(temp_dir) == []


def test_a_full_temporary_folder_leaves_no_cut_file(tracker, monkeypatch, small_tmpfs):
    full = small_tmpfs("tmp")
    if full is None:
        pytest.skip("this process may not mount")
    monkeypatch.setattr(tempfile, "tempdir", str(full))
    with pytest.raises(OSError, match="No space left on device"):
        tracker.extract_embedding_from_array(np.full(160000, 0.1, np.float32))
    # The write stands outside the model's clean-up: the temporary-file
    # facility's empty file stays, never a cut wav, and nothing hidden.
    (left,) = os.listdir(full)
    assert left.startswith("spk_emb_") and os.path.getsize(full / left) == 0
    assert tracker.wespeaker.seen == []
