"""run_separation_and_save with a recording processor and main-channel
choice: file names, result keys in write order, console lines, failures."""
import os

import numpy as np
import pytest
import soundfile as sf

import triageflow
from helpers import SR


class Processor:
    def __init__(self, streams):
        self.streams = streams
        self.calls = []

    def process(self, mix):
        self.calls.append(mix)
        return self.streams, [{"seg_idx": 0}]


def streams_of(ids, n=1600):
    return {gid: np.full(n, 0.1 * (k + 1), np.float32) for k, gid in enumerate(ids)}


def run(monkeypatch, tmp_path, ids, main, n=1600, utt_id="u1"):
    streams = streams_of(ids, n)
    chosen = []

    def choose(global_streams, sample_rate):
        chosen.append((global_streams is streams, sample_rate))
        return main

    monkeypatch.setattr(triageflow, "select_main_channel", choose)
    processor = Processor(streams)
    audio = np.zeros(n, np.float32)
    result = triageflow.run_separation_and_save(utt_id=utt_id, wav_path="/in/x y.wav", audio_16k=audio, sr=SR,
                                                save_dir=str(tmp_path), css_processor=processor)
    assert processor.calls[0] is audio and chosen == [(True, SR)]
    return result, streams


@pytest.mark.parametrize("ids, main, files", [
    ([0, 1], 1, [("main_spk_wav_path", "main_speaker_1.wav"), ("other_spk1_wav_path", "other_speaker_0.wav")]),
    ([0, 1, 2], 0, [("main_spk_wav_path", "main_speaker_0.wav"), ("other_spk1_wav_path", "other_speaker_1.wav"),
                    ("other_spk2_wav_path", "other_speaker_2.wav")]),
    ([0, 1, 2], 1, [("main_spk_wav_path", "main_speaker_1.wav"), ("other_spk1_wav_path", "other_speaker_0.wav"),
                    ("other_spk2_wav_path", "other_speaker_2.wav")]),
    ([2, 0, 5], None, [("other_spk1_wav_path", "other_speaker_2.wav"), ("other_spk2_wav_path", "other_speaker_0.wav"),
                       ("other_spk3_wav_path", "other_speaker_5.wav")]),
    ([3], 3, [("main_spk_wav_path", "main_speaker_3.wav")]),
    ([], None, []),
])
def test_files_and_keys_follow_write_order(monkeypatch, capsys, tmp_path, ids, main, files):
    result, streams = run(monkeypatch, tmp_path, ids, main)
    folder = str(tmp_path / "u1")
    assert list(result.items()) == [(key, os.path.join(folder, name)) for key, name in files]
    assert sorted(os.listdir(folder)) == sorted(name for _, name in files)
    for _, name in files:
        gid = int(name.rsplit("_", 1)[1][:-4])
        samples, rate = sf.read(os.path.join(folder, name), dtype="float32")
        assert rate == SR and sf.info(os.path.join(folder, name)).subtype == "PCM_16"
        np.testing.assert_allclose(samples, streams[gid], atol=1 / 32768)
    out = capsys.readouterr().out.split("\n")
    assert out[:3] == ["", "开始分离: u1  (/in/x y.wav, 0.10s)", f"分离完成，检测到 {len(ids)} 个全局说话人"]
    tail = ["[警告] 未能选出主通道"] if main is None else ["保存主通道: " + os.path.join(folder, files[0][1])]
    assert out[3:] == tail + [""]


def test_duration_uses_true_division(monkeypatch, capsys, tmp_path):
    run(monkeypatch, tmp_path, [0], 0, n=40000)
    assert capsys.readouterr().out.split("\n")[1] == "开始分离: u1  (/in/x y.wav, 2.50s)"


@pytest.mark.parametrize("utt_id, reason", [
    ("/abs/olute", "utt_id is an absolute path"),
    ("a/../../b", "utt_id has a '..' component"),
    ("a\0b", "utt_id contains a NUL character"),
    ("x" * 300, "utt_id has a component of 300 bytes, longer than the file system's 255"),
])
def test_unsafe_ids_create_nothing(monkeypatch, tmp_path, utt_id, reason):
    save = tmp_path / "save"
    with pytest.raises(ValueError) as error:
        run(monkeypatch, save, [0], 0, utt_id=utt_id)
    assert str(error.value) == reason
    assert os.listdir(tmp_path) == [] and not os.path.exists("/abs")


def test_a_failing_write_keeps_the_files_before_it(monkeypatch, tmp_path):
    streams = {0: np.zeros(10, np.float32), 1: np.zeros((2, 5), np.float32)}
    monkeypatch.setattr(triageflow, "select_main_channel", lambda s, sample_rate: 0)
    with pytest.raises(ValueError, match="must be 1-D"):
        triageflow.run_separation_and_save("u", "w", np.zeros(10, np.float32), SR, str(tmp_path),
                                           Processor(streams))
    assert os.listdir(tmp_path / "u") == ["main_speaker_0.wav"]


def test_processor_result_must_be_a_pair(monkeypatch, tmp_path):
    class Three(Processor):
        def process(self, mix):
            return {}, [], None

    with pytest.raises(ValueError, match=r"too many values to unpack \(expected 2\)"):
        triageflow.run_separation_and_save("u", "w", np.zeros(10, np.float32), SR, str(tmp_path), Three({}))
