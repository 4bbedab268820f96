"""main with its collaborators replaced by recording fakes: what it passes,
prints, writes and raises, and that standard output always comes back."""
import json
import os
import re
import types

import numpy as np
import pytest
import soundfile as sf
import torch

import leadvoice
from helpers import SR, call_main, leadvoice_summary, recording_network, write_wav


class Recorder:
    def __init__(self):
        self.events = []
        self.Network = recording_network(self.events)


def streams_for(mix):
    """Speaker 0 holds the first half of the mix, speaker 1 the rest at half level."""
    half = len(mix) // 2
    s0 = np.zeros(len(mix), np.float32)
    s1 = np.zeros(len(mix), np.float32)
    s0[:half] = mix[:half]
    s1[half:] = 0.5 * mix[half:]
    segments = [{"seg_idx": 0, "start_sample": 0, "end_sample": min(len(mix), 38400), "global_ids": [0]},
                {"seg_idx": 2, "start_sample": 38400, "end_sample": len(mix), "global_ids": [1, -1]}]
    return {0: s0, 1: s1}, segments


@pytest.fixture
def fakes(monkeypatch):
    rec = Recorder()
    rec.result = streams_for

    class Processor:
        def __init__(self, *args, **kwargs):
            assert not args
            rec.events.append(("processor", kwargs))

        def process(self, mix):
            rec.events.append(("process", mix))
            print("总计 1 个片段需要处理")
            return rec.result(mix)

    def tracker(*args, **kwargs):
        assert not args
        rec.events.append(("tracker", kwargs))
        return "tracker"

    def load_checkpoint(*args):
        rec.events.append(("load", args))

    monkeypatch.setattr(leadvoice, "unmixer_core", types.SimpleNamespace(TFLocoformerSEP=rec.Network))
    monkeypatch.setattr(leadvoice, "load_checkpoint_for_inference", load_checkpoint)
    monkeypatch.setattr(leadvoice, "SpeakerTracker", tracker)
    monkeypatch.setattr(leadvoice, "CSSProcessor", Processor)
    # Speech wherever a stream is non-zero.
    monkeypatch.setattr(leadvoice, "_SILERO_VAD_MODEL", "vad")
    monkeypatch.setattr(leadvoice, "get_speech_timestamps", lambda audio, model, **kw: nonzero_spans(audio.numpy()))
    return rec


def nonzero_spans(x):
    idx = np.flatnonzero(x)
    return [{"start": int(idx[0]), "end": int(idx[-1]) + 1}] if idx.size else []


def tone(seconds, sr=SR, channels=1, seed=0):
    rng = np.random.default_rng(seed)
    x = 0.3 * np.sin(np.arange(int(seconds * sr)) * 0.05 + rng.uniform(0, 3))
    return np.stack([x * (c + 1) / channels for c in range(channels)], axis=1) if channels > 1 else x


def write(path, seconds=3.0, **kwargs):
    sr = kwargs.pop("sr", SR)
    return write_wav(path, tone(seconds, sr=sr, **kwargs), sr, format="WAV")


def run(monkeypatch, *argv, device="cpu"):
    return call_main(monkeypatch, leadvoice, *argv, "--device", device)


def lines(capsys):
    return capsys.readouterr().out.split("\n")


@pytest.mark.parametrize("argv, message", [
    ([], "必须指定 --data_path 或 --data_jsonl 之一"),
    (["--data_path", "x", "--data_jsonl", "y"], "--data_path 与 --data_jsonl 互斥，请只指定其中一个"),
    (["--data_path", "", "--data_jsonl", ""], "--data_path 与 --data_jsonl 互斥，请只指定其中一个"),
    (["--data_path", ""], "--data_path must be a directory, got: "),
    (["--data_path", "/no/such/dir"], "--data_path must be a directory, got: /no/such/dir"),
])
def test_input_option_errors(monkeypatch, capsys, fakes, argv, message):
    with pytest.raises(ValueError) as error:
        run(monkeypatch, *argv)
    assert str(error.value) == message
    assert capsys.readouterr().out == ""
    assert fakes.events == []


def test_folder_without_wav_ends_quietly(monkeypatch, capsys, fakes, tmp_path):
    (tmp_path / "a.txt").write_text("")
    assert run(monkeypatch, "--data_path", str(tmp_path)) is None
    assert lines(capsys) == ["No .wav files found in: " + str(tmp_path), ""]
    assert fakes.events == []


def test_empty_task_list_ends_before_any_model(monkeypatch, capsys, fakes, tmp_path):
    jsonl = tmp_path / "t.jsonl"
    jsonl.write_text(json.dumps({"multi_spks_rate": 0.9, "prompt_wav": write(tmp_path / "a.wav")}) + "\n")
    run(monkeypatch, "--data_jsonl", str(jsonl), "--multi_spks_rate_threshold", "1")
    assert lines(capsys) == [
        "输入模式: jsonl -> " + str(jsonl),
        "[jsonl] 总行数=1，待处理(multi_spks_rate>1.0)=0，无该字段跳过=0，未超阈值跳过=1，解析失败=0，wav缺失=0",
        "没有需要处理的任务（无 multi_spks_rate>1.0 的 case），退出", ""]
    assert fakes.events == []


def test_one_recording_calls_lines_and_files(monkeypatch, capsys, fakes, tmp_path):
    wav = write(tmp_path / "in" / "rec.one.wav", seconds=4.0, channels=2)
    out_root = tmp_path / "out"
    run(monkeypatch, "--data_path", str(tmp_path / "in"), "--save_dir", str(out_root), "--inference", "ck.pth",
        "--max_speakers", "3", "--merge_threshold", "0.4", "--similarity_threshold", "0.3")
    save_dir = str(out_root / "rec.one")
    log_path = save_dir + "/log.txt"
    s0, s1 = streams_for(sf.read(wav)[0][:, 0].astype(np.float32))[0].values()
    e0, e1 = float(np.mean(s0[:32000] ** 2)), float(np.mean(s1[32000:] ** 2))
    recording = [
        "日志将保存到: " + log_path,
        "加载混合音频: " + wav + ", 采样率: 16000, 时长: 4.00s",
        "", "开始处理...",
        "总计 1 个片段需要处理",
        "", "检测到 2 个全局说话人",
        "", "=== 主通道判别（基于silero_vad：能量优先 + 时长兜底） ===",
        f"  说话人0: 语音时长=2.00s, 平均能量={e0:.6e}",
        f"  说话人1: 语音时长=2.00s, 平均能量={e1:.6e}",
        f"  能量阈值={e0 * 0.9:.6e} (= 0.90 * max_energy)，候选通道=[0]",
        f"  -> 主通道: 说话人0 (能量明显最大={e0:.6e}, 时长=2.00s)",
        "保存原始mix音频: " + save_dir + "/mix.wav",
        "保存主通道音频: " + save_dir + "/main_speaker_0.wav",
        "", "=== 说话人追踪统计 ===",
        "片段 1: [0.00s - 2.40s] -> 说话人: [0]",
        "片段 3: [2.40s - 4.00s] -> 说话人: [1, -1]",
        "", "处理完成！结果保存至: " + save_dir,
    ]
    out = lines(capsys)
    assert out == ["输入模式: directory -> 共 1 个 wav 文件", "CUDA不可用，使用CPU", "加载分离模型...",
                   "加载说话人追踪器(WeSpeaker)..."] + recording + ["日志已保存到: " + log_path, "",
                                                                 leadvoice_summary(total=1, done=1), ""]
    assert open(log_path, encoding="utf-8").read() == "\n".join(recording) + "\n"

    cpu = torch.device("cpu")
    names = [e[0] for e in fakes.events]
    assert names == ["model", "load", "to", "eval", "tracker", "processor", "process"]
    assert fakes.events[1] == ("load", ("ck.pth", fakes.events[1][1][1], cpu))
    assert isinstance(fakes.events[1][1][1], fakes.Network) and fakes.events[2] == ("to", cpu)
    assert fakes.events[4][1] == {
        "wespeaker_model": "chinese", "similarity_threshold": 0.3, "low_similarity_threshold": 0.22,
        "max_inter_sisdr_for_update": -10.0, "short_speech_duration": 0.8, "short_speech_threshold_drop": 0.05,
        "embedding_update_strategy": "ema_with_history"}
    kwargs = fakes.events[5][1]
    assert kwargs == {"separation_model": fakes.events[1][1][1], "speaker_tracker": "tracker", "max_speakers": 3,
                      "seg_duration": 2.4, "hop_duration": 1.2, "sample_rate": 16000, "sisdr_threshold": 20.0,
                      "sisdr_threshold_prev": -10.0, "merge_threshold": 0.4, "device": cpu,
                      "segments_save_dir": None}
    mix = fakes.events[6][1]
    first_channel, rate = sf.read(wav)
    assert mix.dtype == np.float64 and mix.ndim == 1 and rate == SR
    np.testing.assert_array_equal(mix, first_channel[:, 0])

    saved_mix, mix_rate = sf.read(save_dir + "/mix.wav")
    assert mix_rate == SR and saved_mix.ndim == 1 and sf.info(save_dir + "/mix.wav").subtype == "PCM_16"
    np.testing.assert_array_equal(saved_mix, mix)  # 16-bit input survives exactly
    main, _ = sf.read(save_dir + "/main_speaker_0.wav")
    np.testing.assert_allclose(main, streams_for(mix.astype(np.float32))[0][0], atol=1 / 32768)
    assert sorted(p.name for p in (out_root / "rec.one").iterdir()) == ["log.txt", "main_speaker_0.wav", "mix.wav"]


@pytest.mark.parametrize("available, device, expected, message", [
    (False, "cuda", "cpu", True), (True, "cpu", "cpu", True), (True, "cuda:1", "cuda:1", False),
    (True, "gpu", "cpu", True),
])
def test_device_rule(monkeypatch, capsys, fakes, tmp_path, available, device, expected, message):
    monkeypatch.setattr(torch.cuda, "is_available", lambda: available)
    write(tmp_path / "in" / "a.wav")
    run(monkeypatch, "--data_path", str(tmp_path / "in"), "--save_dir", str(tmp_path / "o"), device=device)
    assert fakes.events[2] == ("to", torch.device(expected))
    assert fakes.events[5][1]["device"] == torch.device(expected)
    assert ("CUDA不可用，使用CPU" in lines(capsys)) == message


def test_folder_order_suffix_case_and_stem(monkeypatch, capsys, fakes, tmp_path):
    for name in ["b.wav", "A.WAV", "1.Wav", ".wav", "c.txt"]:
        write(tmp_path / "in" / name, seconds=1.5)
    run(monkeypatch, "--data_path", str(tmp_path / "in") + "/", "--save_dir", str(tmp_path / "o"))
    loads = [line for line in lines(capsys) if line.startswith("加载混合音频: ")]
    assert [line.split(",")[0][len("加载混合音频: "):] for line in loads] == [
        str(tmp_path / "in") + "/" + name for name in [".wav", "1.Wav", "A.WAV", "b.wav"]]
    assert sorted(p.name for p in (tmp_path / "o").iterdir()) == [".wav", "1", "A", "b"]


def test_nothing_separated_still_saves_the_mix(monkeypatch, capsys, fakes, tmp_path):
    fakes.result = lambda mix: ({}, [])
    write(tmp_path / "in" / "s.wav", seconds=1.0)
    run(monkeypatch, "--data_path", str(tmp_path / "in"), "--save_dir", str(tmp_path / "o"))
    out = lines(capsys)
    i = out.index("检测到 0 个全局说话人")
    assert out[i + 1:i + 6] == ["保存原始mix音频: " + str(tmp_path / "o" / "s" / "mix.wav"),
                                "[警告] 未能选出主通道，跳过主通道保存", "", "=== 说话人追踪统计 ===", ""]
    assert sorted(p.name for p in (tmp_path / "o" / "s").iterdir()) == ["log.txt", "mix.wav"]


@pytest.mark.parametrize("result, message", [
    (lambda mix: ({}, [], None), "too many values to unpack (expected 2)"),
    (lambda mix: ({},), "not enough values to unpack (expected 2, got 1)"),
    (lambda mix: (_ for _ in ()).throw(RuntimeError("network down")), "network down"),
    (lambda mix: ({}, [{"seg_idx": 0}]), "start_sample"),
])
def test_failure_restores_console_closes_log_and_stops(monkeypatch, capsys, fakes, tmp_path, result, message):
    fakes.result = result
    write(tmp_path / "in" / "a.wav")
    write(tmp_path / "in" / "b.wav")
    with pytest.raises(Exception, match=re.escape(message)):
        run(monkeypatch, "--data_path", str(tmp_path / "in"), "--save_dir", str(tmp_path / "o"))
    out = lines(capsys)
    log_path = str(tmp_path / "o" / "a" / "log.txt")
    assert out[-2:] == ["日志已保存到: " + log_path, ""]
    assert "日志已保存到" not in open(log_path, encoding="utf-8").read()
    assert not (tmp_path / "o" / "b").exists()


def unusable_recordings(folder):
    """Recordings that cannot be used, each with the start of the warning it gets (libsndfile words the rest), in
    folder order."""
    (folder / "a_text.wav").write_text("not audio")
    (folder / "b_empty.wav").write_bytes(b"")
    sf.write(str(folder / "bb_no_frames_8k.wav"), np.zeros(0), 8000)
    (folder / "c_dir.wav").mkdir()
    os.mkfifo(folder / "d_pipe.wav")
    nan, inf = tone(2.0), tone(2.0)
    nan[7] = np.nan
    inf[-1] = -np.inf
    sf.write(str(folder / "e_nan.wav"), nan, SR, subtype="FLOAT")
    # A second channel that is not finite is never used, so it does not count.
    sf.write(str(folder / "f_inf.wav"), np.stack([inf, tone(2.0)], axis=1), SR, subtype="FLOAT")
    sf.write(str(folder / "g_ok_nan_right.wav"), np.stack([tone(2.0), nan], axis=1), SR, subtype="FLOAT")
    path = lambda name: str(folder / name)
    return [
        "[警告] 无法读取音频，跳过: Error opening '" + path("a_text.wav") + "': ",
        "[警告] 无法读取音频，跳过: Error opening '" + path("b_empty.wav") + "': ",
        "[警告] 无法读取音频，跳过: Error resampling '" + path("bb_no_frames_8k.wav") + "' from 8000 Hz: ",
        "[警告] 无法读取音频，跳过: Error opening '" + path("c_dir.wav") + "': Is a directory",
        "[警告] 无法读取音频，跳过: Error opening '" + path("d_pipe.wav") + "': not a regular file",
        "[警告] 音频含有非有限值(NaN/inf)的采样，跳过: " + path("e_nan.wav"),
        "[警告] 音频含有非有限值(NaN/inf)的采样，跳过: " + path("f_inf.wav"),
    ]


def test_unusable_recordings_are_warnings_and_the_run_goes_on(monkeypatch, capsys, fakes, tmp_path):
    folder = tmp_path / "in"
    folder.mkdir()
    warnings = unusable_recordings(folder)
    write(folder / "h_good.wav")
    run(monkeypatch, "--data_path", str(folder), "--save_dir", str(tmp_path / "o"))
    out = lines(capsys)
    assert out[0] == "输入模式: directory -> 共 9 个 wav 文件"
    shown = out[4:4 + len(warnings)]
    assert len(shown) == len(warnings) and all(line.startswith(w) for line, w in zip(shown, warnings)), shown
    assert shown[3:] == warnings[3:]
    # Nothing is created for a recording that is not used: no folder, no lone log.
    assert sorted(p.name for p in (tmp_path / "o").iterdir()) == ["g_ok_nan_right", "h_good"]
    for stem in ("g_ok_nan_right", "h_good"):
        assert sorted(p.name for p in (tmp_path / "o" / stem).iterdir()) == ["log.txt", "main_speaker_0.wav",
                                                                            "mix.wav"]
    assert [e[0] for e in fakes.events].count("process") == 2
    assert out[-3:] == ["", leadvoice_summary(total=9, done=2, unreadable=5, not_finite=2), ""]


def test_unreadable_task_list_entry_is_a_warning(monkeypatch, capsys, fakes, tmp_path):
    bad = tmp_path / "bad.wav"
    bad.write_text("RIFF but no more")
    good = write(tmp_path / "good.wav")
    jsonl = tmp_path / "t.jsonl"
    jsonl.write_text("".join(json.dumps({"multi_spks_rate": 0.9, "prompt_wav": p}) + "\n" for p in (str(bad), good)))
    run(monkeypatch, "--data_jsonl", str(jsonl), "--save_dir", str(tmp_path / "o"))
    out = lines(capsys)
    assert [line for line in out if line.startswith("[警告] 无法读取音频，跳过: Error opening '" + str(bad) + "': ")]
    assert sorted(p.name for p in (tmp_path / "o").iterdir()) == ["good"]
    assert out[-2] == leadvoice_summary(total=2, done=1, unreadable=1)


def test_outputs_that_cannot_be_made_are_warnings_and_the_run_goes_on(monkeypatch, capsys, fakes, tmp_path,
                                                                       small_tmpfs):
    names = ["a_file", "b_log_is_folder", "c_mix_is_folder", "d_read_only", "e_good"]
    wavs = {name: write(tmp_path / "in" / f"{name}.wav") for name in names}
    out = tmp_path / "o"
    out.mkdir()
    (out / "a_file").write_text("a file where the folder goes")
    (out / "b_log_is_folder" / "log.txt").mkdir(parents=True)
    (out / "c_mix_is_folder" / "mix.wav").mkdir(parents=True)
    warnings = [
        f"[警告] 无法创建输出目录，跳过: {wavs['a_file']} ([Errno 17] File exists: '{out}/a_file')",
        f"[警告] 无法创建日志文件，跳过: {wavs['b_log_is_folder']} ([Errno 21] Is a directory: "
        f"'{out}/b_log_is_folder/log.txt')",
        f"[警告] 写入输出失败，跳过: {wavs['c_mix_is_folder']} ([Errno 21] Is a directory: "
        f"'{out}/c_mix_is_folder/mix.wav')",
    ]
    if small_tmpfs("o/d_read_only", read_only=True) is None:
        (tmp_path / "in" / "d_read_only.wav").unlink()
        names.remove("d_read_only")
    else:
        warnings.append(f"[警告] 无法创建日志文件，跳过: {wavs['d_read_only']} ([Errno 30] Read-only file system: "
                        f"'{out}/d_read_only/log.txt')")
    run(monkeypatch, "--data_path", str(tmp_path / "in"), "--save_dir", str(out))
    lines_out = lines(capsys)
    assert [line for line in lines_out if line.startswith("[警告] ")] == warnings
    assert lines_out[-2] == leadvoice_summary(total=len(names), done=1, output_failed=len(warnings))
    # Only the recordings whose log opened were separated.
    assert [e[0] for e in fakes.events].count("process") == 2
    log = (out / "c_mix_is_folder" / "log.txt").read_text(encoding="utf-8")
    assert log.endswith("\n" + warnings[2] + "\n") and "日志已保存到: " + str(out / "c_mix_is_folder" / "log.txt") in lines_out
    assert sorted(p.name for p in (out / "c_mix_is_folder").iterdir()) == ["log.txt", "mix.wav"]
    assert sorted(p.name for p in (out / "e_good").iterdir()) == ["log.txt", "main_speaker_0.wav", "mix.wav"]
    assert (out / "a_file").read_text() == "a file where the folder goes"


@pytest.mark.parametrize("where", ["read_only_save_dir", "log_file_is_folder", "log_file_under_a_file"])
def test_an_output_place_that_fails_every_recording_still_ends_the_run(monkeypatch, capsys, fakes, tmp_path,
                                                                        small_tmpfs, where):
    wavs = [write(tmp_path / "in" / name) for name in ("a.wav", "b.wav")]
    save_dir, extra = tmp_path / "o", []
    if where == "read_only_save_dir":
        read_only = small_tmpfs("ro", read_only=True)
        if read_only is None:
            pytest.skip("this process may not mount")
        save_dir = read_only / "o"
        reason = f"[Errno 30] Read-only file system: '{save_dir}'"
    elif where == "log_file_is_folder":
        (tmp_path / "logs").mkdir()
        extra = ["--log_file", str(tmp_path / "logs")]
        reason = f"[Errno 21] Is a directory: '{tmp_path / 'logs'}'"
    else:
        (tmp_path / "file").write_text("x")
        extra = ["--log_file", str(tmp_path / "file" / "run.log")]
        reason = f"[Errno 17] File exists: '{tmp_path / 'file'}'"
    run(monkeypatch, "--data_path", str(tmp_path / "in"), "--save_dir", str(save_dir), *extra)
    kind = "无法创建输出目录" if where == "read_only_save_dir" else "无法创建日志文件"
    out = lines(capsys)
    assert [line for line in out if line.startswith("[警告] ")] == [f"[警告] {kind}，跳过: {w} ({reason})" for w in wavs]
    assert out[-2] == leadvoice_summary(total=2, done=0, output_failed=2)
    assert "process" not in [e[0] for e in fakes.events]


def test_failing_first_log_write_still_restores_console(monkeypatch, capsys, fakes, tmp_path):
    closed = []

    class BrokenLog(leadvoice.Logger):
        def write(self, message):
            raise OSError("disk full")

        def close(self):
            closed.append(True)
            super().close()

    monkeypatch.setattr(leadvoice, "Logger", BrokenLog)
    write(tmp_path / "in" / "a.wav")
    with pytest.raises(OSError, match="disk full"):
        run(monkeypatch, "--data_path", str(tmp_path / "in"), "--save_dir", str(tmp_path / "o"))
    assert closed == [True]


def test_shared_log_file_keeps_every_recording(monkeypatch, capsys, fakes, tmp_path):
    for name in ["a.wav", "b.wav"]:
        write(tmp_path / "in" / name, seconds=1.5)
    shared = tmp_path / "logs" / "run.log"
    shared.parent.mkdir()
    shared.write_text("stale run\n")
    run(monkeypatch, "--data_path", str(tmp_path / "in"), "--save_dir", str(tmp_path / "o"),
        "--log_file", str(shared))
    text = shared.read_text(encoding="utf-8")
    assert "stale run" not in text
    assert text.startswith("日志将保存到: " + str(shared) + "\n加载混合音频: " + str(tmp_path / "in" / "a.wav"))
    assert text.count("日志将保存到: ") == 2 and "加载混合音频: " + str(tmp_path / "in" / "b.wav") in text
    assert text.endswith("处理完成！结果保存至: " + str(tmp_path / "o" / "b") + "\n")
    out = lines(capsys)
    assert out.count("日志已保存到: " + str(shared)) == 2
    for stem in "ab":
        assert sorted(p.name for p in (tmp_path / "o" / stem).iterdir()) == ["main_speaker_0.wav", "mix.wav"]


def test_empty_log_file_option_means_per_folder_log(monkeypatch, capsys, fakes, tmp_path):
    write(tmp_path / "in" / "a.wav")
    run(monkeypatch, "--data_path", str(tmp_path / "in"), "--save_dir", str(tmp_path / "o"), "--log_file", "")
    assert (tmp_path / "o" / "a" / "log.txt").is_file()


def test_later_task_with_a_taken_folder_is_refused(monkeypatch, capsys, fakes, tmp_path):
    first = write(tmp_path / "x" / "same.wav")
    second = write(tmp_path / "y" / "same.wav", seconds=2.0)
    other = write(tmp_path / "y" / "other.wav")
    jsonl = tmp_path / "t.jsonl"
    jsonl.write_text("\n" + "".join(json.dumps({"multi_spks_rate": 0.9, "prompt_wav": p}) + "\n"
                                    for p in (first, second, other)))
    run(monkeypatch, "--data_jsonl", str(jsonl), "--save_dir", str(tmp_path / "o"))
    folder = tmp_path / "o" / "same"
    out = lines(capsys)
    refusal = ("[警告] 输出目录 " + str(folder) + " 已被本次运行中前面的任务 jsonl第2行 " + first + " 使用，跳过: " +
               second)
    assert out.count(refusal) == 1
    # The earlier task's results stay as it wrote them.
    assert "加载混合音频: " + first + ", 采样率: 16000, 时长: 3.00s" in (folder / "log.txt").read_text(encoding="utf-8")
    assert sf.info(str(folder / "mix.wav")).frames == 3 * SR
    assert [e[0] for e in fakes.events].count("process") == 2
    assert out[-2] == leadvoice_summary(total=3, done=2, folder_taken=1)


def test_folder_mode_refuses_names_differing_in_suffix_case(monkeypatch, capsys, fakes, tmp_path):
    upper = write(tmp_path / "in" / "rec.WAV")
    lower = write(tmp_path / "in" / "rec.wav", seconds=2.0)
    run(monkeypatch, "--data_path", str(tmp_path / "in"), "--save_dir", str(tmp_path / "o"))
    out = lines(capsys)
    assert ("[警告] 输出目录 " + str(tmp_path / "o" / "rec") + " 已被本次运行中前面的任务 " + upper + " 使用，跳过: " +
            lower) in out
    assert sf.info(str(tmp_path / "o" / "rec" / "mix.wav")).frames == 3 * SR


def test_stale_streams_of_an_earlier_run_are_removed(monkeypatch, capsys, fakes, tmp_path):
    write(tmp_path / "in" / "a.wav")
    folder = tmp_path / "o" / "a"
    folder.mkdir(parents=True)
    for name in ("main_speaker_3.wav", "other_speaker_1.wav", "notes.txt", "main_speaker_0.txt"):
        (folder / name).write_text("old")
    (folder / "other_speaker_9.wav").mkdir()
    os.symlink(tmp_path / "in" / "a.wav", folder / "other_speaker_4.wav")
    run(monkeypatch, "--data_path", str(tmp_path / "in"), "--save_dir", str(tmp_path / "o"))
    assert sorted(p.name for p in folder.iterdir()) == ["log.txt", "main_speaker_0.txt", "main_speaker_0.wav",
                                                         "mix.wav", "notes.txt", "other_speaker_9.wav"]
    assert (tmp_path / "in" / "a.wav").is_file()
    removed = "[警告] 已删除输出目录中旧的说话人音频 3 个: " + str(folder)
    assert lines(capsys).count(removed) == 1
    assert (folder / "log.txt").read_text(encoding="utf-8").split("\n")[1] == removed


def test_other_rates_are_resampled_to_16k(monkeypatch, capsys, fakes, tmp_path):
    calls = []
    real = leadvoice.librosa

    class Librosa:
        @staticmethod
        def resample(y, **kwargs):
            calls.append((y.dtype, kwargs))
            return real.resample(y, **kwargs)

    monkeypatch.setattr(leadvoice, "librosa", Librosa)
    wav = write(tmp_path / "in" / "n.wav", seconds=2.0, sr=8000)
    run(monkeypatch, "--data_path", str(tmp_path / "in"), "--save_dir", str(tmp_path / "o"))
    assert calls == [(np.float64, {"orig_sr": 8000, "target_sr": 16000, "res_type": "kaiser_best"})]
    out = lines(capsys)
    i = out.index("日志将保存到: " + str(tmp_path / "o" / "n" / "log.txt"))
    assert out[i + 1] == "[警告] " + wav + " 的采样率为 8000 Hz，已重采样到 16000 Hz"
    assert out[i + 2] == "加载混合音频: " + wav + ", 采样率: 16000, 时长: 2.00s"
    assert fakes.events[5][1]["sample_rate"] == 16000
    assert len(fakes.events[6][1]) == 32000
    info = sf.info(str(tmp_path / "o" / "n" / "mix.wav"))
    assert info.samplerate == 16000 and info.frames == 32000


def test_missing_task_entry_fails_before_any_output(monkeypatch, capsys, fakes, tmp_path):
    jsonl = tmp_path / "t.jsonl"
    jsonl.write_text(json.dumps({"multi_spks_rate": 0.9, "prompt_wav": write(tmp_path / "a.wav")}) + "\n")
    monkeypatch.setattr(leadvoice, "collect_tasks_from_jsonl", lambda path, multi_spks_rate_threshold: [{"raw": {}}])
    with pytest.raises(KeyError, match="wav_path"):
        run(monkeypatch, "--data_jsonl", str(jsonl), "--save_dir", str(tmp_path / "o"))
