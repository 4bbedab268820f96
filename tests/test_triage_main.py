"""main with its collaborators replaced by recording fakes: what it passes and
in which order, where its lines go, and which failures end the run."""
import json
import os
import re
import types

import numpy as np
import pytest
import torch

import triageflow
from helpers import SR, call_main, recording_network, write_wav


class Recorder:
    def __init__(self):
        self.events = []
        self.rates = {}
        self.separate = lambda **kw: {"main_spk_wav_path": "m.wav"}


@pytest.fixture
def fakes(monkeypatch):
    rec = Recorder()

    class Detector:
        def __init__(self, *args, **kwargs):
            rec.events.append(("detector", args, kwargs))

        def predict(self, audio):
            return rec.rates.get(len(audio), 0.9)

    def tracker(*args, **kwargs):
        assert not args
        rec.events.append(("tracker", list(kwargs.items())))
        return "tracker"

    def processor(*args, **kwargs):
        assert not args
        rec.events.append(("processor", list(kwargs)))
        return "processor"

    def separate(**kwargs):
        rec.events.append(("separate", list(kwargs)))
        print("separating " + kwargs["utt_id"])
        return rec.separate(**kwargs)

    monkeypatch.setattr(triageflow, "MultiSpeakerDetector", Detector)
    monkeypatch.setattr(triageflow, "unmixer_core", types.SimpleNamespace(TFLocoformerSEP=recording_network(rec.events)))
    monkeypatch.setattr(triageflow, "load_checkpoint_for_inference", lambda path, model, device: rec.events.append(("load", path, type(model).__name__, device)))
    monkeypatch.setattr(triageflow, "SpeakerTracker", tracker)
    monkeypatch.setattr(triageflow, "CSSProcessor", processor)
    monkeypatch.setattr(triageflow, "run_separation_and_save", separate)
    return rec


def wav(tmp_path, name, samples):
    return write_wav(tmp_path / name, np.full(samples, 0.1), SR)


def run(monkeypatch, tmp_path, lines, *argv):
    scp = tmp_path / "list.scp"
    scp.write_text("".join(line + "\n" for line in lines), encoding="utf-8")
    out_jsonl = tmp_path / "out.jsonl"
    try:
        call_main(monkeypatch, triageflow, "--scp", str(scp), "--out_jsonl", str(out_jsonl),
                  "--save_dir", str(tmp_path / "sep"), *argv)
    finally:
        records = [json.loads(line) for line in out_jsonl.read_text("utf-8").splitlines()] \
            if out_jsonl.exists() else None
        run.records = records
    return records


def test_models_and_calls_in_order(monkeypatch, capsys, fakes, tmp_path):
    a = wav(tmp_path, "a.wav", 20000)
    records = run(monkeypatch, tmp_path, [f"u1 {a}"], "--device", "cpu", "--detector_ckpt", "d.tar",
                  "--inference", "s.pth", "--similarity_threshold", "0.3", "--max_speakers", "3")
    cpu = torch.device("cpu")
    assert fakes.events == [
        ("detector", ("d.tar", cpu), {}), ("model",), ("load", "s.pth", "Model", cpu), ("to", cpu), ("eval",),
        ("tracker", [("wespeaker_model", "chinese"), ("similarity_threshold", 0.3),
                     ("low_similarity_threshold", 0.22), ("max_inter_sisdr_for_update", -10.0),
                     ("short_speech_duration", 0.8), ("short_speech_threshold_drop", 0.05),
                     ("embedding_update_strategy", "ema_with_history")]),
        ("processor", ["separation_model", "speaker_tracker", "max_speakers", "seg_duration", "hop_duration",
                       "sample_rate", "sisdr_threshold", "sisdr_threshold_prev", "merge_threshold", "device",
                       "segments_save_dir"]),
        ("separate", ["utt_id", "wav_path", "audio_16k", "sr", "save_dir", "css_processor"]),
    ]
    assert records == [{"id": "u1", "wav_path": a, "multi_spks_rate": 0.9, "multi_spks": True,
                        "main_spk_wav_path": "m.wav"}]


@pytest.mark.parametrize("requested, available, warned, device", [
    ("cuda", False, True, "cpu"), ("cpu", True, True, "cpu"), ("cuda:1", True, False, "cuda:1"),
    ("gpu", True, True, "cpu"),
])
def test_device_rule(monkeypatch, capsys, fakes, tmp_path, requested, available, warned, device):
    monkeypatch.setattr(torch.cuda, "is_available", lambda: available)
    run(monkeypatch, tmp_path, [f"u1 {wav(tmp_path, 'a.wav', 100)}"], "--device", requested)
    assert capsys.readouterr().out.startswith("[警告] CUDA 不可用，回退到 CPU\n") == warned
    assert fakes.events[0][1][1] == torch.device(device)


def test_failed_separation_goes_to_stderr_and_the_log(monkeypatch, capsys, fakes, tmp_path):
    def fail(**kwargs):
        raise ValueError()

    fakes.separate = fail
    a = wav(tmp_path, "a.wav", 20000)
    records = run(monkeypatch, tmp_path, [f"u1 {a}", f"u2 {a}"], "--device", "cpu")
    assert [r["error"] for r in records] == ["separation_failed: ", "separation_failed: "]
    log = (tmp_path / "sep" / "u2" / "log.txt").read_text("utf-8")
    assert log == (f"日志文件: {tmp_path}/sep/u2/log.txt\n音频: {a}, 时长 1.25s, 采样率 16000\n"
                   "separating u2\n[错误] 分离失败: \n")
    captured = capsys.readouterr()
    assert captured.err.count("Traceback (most recent call last):") == 2 and "ValueError" in captured.err
    assert "Traceback" not in log and log in captured.out


@pytest.mark.parametrize("utt_id, reason", [
    ("/tmp/abs_utt", "utt_id is an absolute path"),
    ("../up", "utt_id has a '..' component"),
    ("a/" + "y" * 256, "utt_id has a component of 256 bytes, longer than the file system's 255"),
])
def test_unsafe_ids_are_refused_and_the_run_goes_on(monkeypatch, capsys, fakes, tmp_path, utt_id, reason):
    a = wav(tmp_path, "a.wav", 20000)
    records = run(monkeypatch, tmp_path, [f"{utt_id} {a}", f"ok {a}"], "--device", "cpu")
    assert records[0] == {"id": utt_id, "wav_path": a, "multi_spks_rate": 0.9, "multi_spks": True,
                          "error": "unsafe_utt_id: " + reason}
    assert "error" not in records[1]
    assert os.listdir(tmp_path / "sep") == ["ok"] and not os.path.exists("/tmp/abs_utt")
    assert not (tmp_path / "up").exists()


def test_nul_in_an_id_is_refused(monkeypatch, fakes, tmp_path):
    a = wav(tmp_path, "a.wav", 20000)
    records = run(monkeypatch, tmp_path, [f"x\0y {a}"], "--device", "cpu")
    assert records[0]["error"] == "unsafe_utt_id: utt_id contains a NUL character"


@pytest.mark.parametrize("result, error", [
    (3, "load_failed: cannot unpack non-iterable int object"),
    ((1, 2, 3), "load_failed: too many values to unpack (expected 2)"),
])
def test_loader_result_must_be_a_pair(monkeypatch, fakes, tmp_path, result, error):
    monkeypatch.setattr(triageflow, "load_audio_16k", lambda path: result)
    records = run(monkeypatch, tmp_path, [f"u1 {wav(tmp_path, 'a.wav', 100)}"], "--device", "cpu")
    assert records[0]["error"] == error and records[0]["multi_spks_rate"] is None


@pytest.mark.parametrize("entries, error", [
    # Any pair-shaped entry of a replaced list reader is unpacked as a pair.
    (lambda p: [["u1", p], iter(("u2", p))], None),
    (lambda p: [("u1", p, "extra")], "too many values to unpack (expected 2)"),
])
def test_list_entries_are_unpacked_as_pairs(monkeypatch, fakes, tmp_path, entries, error):
    a = wav(tmp_path, "a.wav", 100)
    fakes.rates = {100: 0.1}
    monkeypatch.setattr(triageflow, "parse_scp", lambda path: entries(a))
    if error is None:
        records = run(monkeypatch, tmp_path, [], "--device", "cpu")
        assert [(r["id"], r["wav_path"]) for r in records] == [("u1", a), ("u2", a)]
        return
    with pytest.raises(ValueError, match=re.escape(error)):
        run(monkeypatch, tmp_path, [], "--device", "cpu")
    # Refused before anything is made: no result file, no folder, no model.
    assert run.records is None and not (tmp_path / "sep").exists() and fakes.events == []


def block_with_file(sep):
    (sep / "blocked").write_text("a file")
    return "blocked", "utt_dir_failed: [Errno 17] File exists: '{sep}/blocked'"


def block_with_read_only_parent(sep):
    if os.geteuid() == 0:
        pytest.skip("root writes into read-only folders")
    (sep / "ro").mkdir()
    (sep / "ro").chmod(0o555)
    return "ro/utt", "utt_dir_failed: [Errno 13] Permission denied: '{sep}/ro/utt'"


def block_log_with_folder(sep):
    (sep / "logdir" / "log.txt").mkdir(parents=True)
    return "logdir", "log_file_failed: [Errno 21] Is a directory: '{sep}/logdir/log.txt'"


@pytest.mark.parametrize("block", [block_with_file, block_with_read_only_parent, block_log_with_folder])
def test_a_folder_or_log_that_cannot_be_made_fails_its_entry(monkeypatch, capsys, fakes, tmp_path, block):
    a = wav(tmp_path, "a.wav", 20000)
    sep = tmp_path / "sep"
    sep.mkdir()
    utt_id, error = block(sep)
    error = error.format(sep=sep)
    records = run(monkeypatch, tmp_path, [f"u1 {a}", f"{utt_id} {a}", f"u3 {a}"], "--device", "cpu")
    assert records[1] == {"id": utt_id, "wav_path": a, "multi_spks_rate": 0.9, "multi_spks": True, "error": error}
    assert [r.get("main_spk_wav_path") for r in records] == ["m.wav", None, "m.wav"]
    assert [e[1][0] for e in fakes.events if e[0] == "separate"] == ["utt_id", "utt_id"]
    out = capsys.readouterr().out
    label = "创建输出目录失败" if error.startswith("utt_dir_failed") else "创建日志文件失败"
    assert f"[错误] {label}: {error.split(': ', 1)[1]}\n" in out
    assert out.endswith("  多人(分离):  2\n  失败:        1\n" + f"输出 jsonl:   {tmp_path}/out.jsonl\n"
                        f"分离结果目录: {tmp_path}/sep\n")


def test_a_separation_that_keeps_no_stream_is_a_failure(monkeypatch, capsys, fakes, tmp_path):
    fakes.separate = lambda **kw: {}
    a = wav(tmp_path, "a.wav", 20000)
    records = run(monkeypatch, tmp_path, [f"u1 {a}"], "--device", "cpu")
    assert list(records[0].items()) == [("id", "u1"), ("wav_path", a), ("multi_spks_rate", 0.9),
                                        ("multi_spks", True), ("error", "separation_failed: no speaker stream was kept")]
    captured = capsys.readouterr()
    assert "  多人(分离):  0\n  失败:        1\n" in captured.out and captured.err == ""
    log = (tmp_path / "sep" / "u1" / "log.txt").read_text("utf-8")
    assert log.endswith("separating u1\n[错误] 分离失败: no speaker stream was kept\n")


def test_an_error_of_our_own_code_fails_its_entry(monkeypatch, capsys, fakes, tmp_path):
    # A rate that the audio line cannot show as an integer fails inside the
    # extension's C++, where no interpreter frame is on the way.
    real_load = triageflow.load_audio_16k
    monkeypatch.setattr(triageflow, "load_audio_16k", lambda path: (real_load(path)[0], 16000.0))
    a = wav(tmp_path, "a.wav", 20000)
    records = run(monkeypatch, tmp_path, [f"u1 {a}", f"u2 {a}"], "--device", "cpu")
    assert [r["error"].startswith("separation_failed: Unable to cast Python instance") for r in records] == [True] * 2
    err = capsys.readouterr().err.split("\n")
    assert err[0].startswith("RuntimeError: Unable to cast Python instance") and err[1].startswith("RuntimeError: ")


def test_threshold_and_hop_gates(monkeypatch, capsys, fakes, tmp_path):
    fakes.rates = {19200: 0.5, 19201: 0.5, 100: 0.49999}
    paths = [wav(tmp_path, f"{n}.wav", n) for n in (19200, 19201, 100)]
    records = run(monkeypatch, tmp_path, [f"u{k} {p}" for k, p in enumerate(paths)], "--device", "cpu",
                  "--multi_spks_threshold", "0.5")
    assert [r.get("error") for r in records] == [
        "audio_too_short_for_css: duration=1.20s <= hop_duration=1.2s", None, None]
    assert [r["multi_spks"] for r in records] == [True, True, False]
    out = capsys.readouterr().out
    assert "multi_spks_rate = 0.5000 (阈值 0.5)\n-> 判定为单人，跳过分离\n" in out


def test_each_line_is_on_disk_before_the_next_entry(monkeypatch, fakes, tmp_path):
    seen = []
    real_load = triageflow.load_audio_16k

    def load(path):
        seen.append((tmp_path / "out.jsonl").read_text("utf-8").count("\n"))
        return real_load(path)

    monkeypatch.setattr(triageflow, "load_audio_16k", load)
    fakes.rates = {100: 0.1}
    a, b = wav(tmp_path, "a.wav", 100), wav(tmp_path, "b.wav", 20000)
    run(monkeypatch, tmp_path, [f"u1 {a}", f"u2 {b}", f"u3 {a}"], "--device", "cpu")
    assert seen == [0, 1, 2]
