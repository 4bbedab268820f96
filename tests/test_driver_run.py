"""Whole runs of the driver with the stand-in network, speaker model and VAD:
a folder and a task list, checked file by file and line by line."""
import json
import os
import re

import numpy as np
import pytest
import soundfile as sf

import leadvoice
from helpers import BYTES_CONSOLE, PAGE, SR, call_main, fill, harmonic_voice, launch, leadvoice_summary
from utility.unmixer_core import write_checkpoint


def talker(seconds, low_hz, high_hz, seed, active):
    """A harmonic voice kept inside [low_hz, high_hz), on during the `active` spans (seconds)."""
    voice = harmonic_voice(seconds, low_hz, high_hz, seed)
    gate = np.zeros_like(voice)
    for start, stop in active:
        gate[int(start * SR):int(stop * SR)] = 1.0
    return 0.3 * voice / np.max(np.abs(voice)) * gate


LOW = talker(6.0, 150, 1800, 1, [(0.0, 3.5), (4.0, 6.0)])
HIGH = talker(6.0, 2600, 7000, 2, [(2.0, 5.0)])


@pytest.fixture(scope="module")
def inputs(tmp_path_factory):
    root = tmp_path_factory.mktemp("inputs")
    folder = root / "in"
    folder.mkdir()
    sf.write(str(folder / "A_two.WAV"), LOW + 0.5 * HIGH, SR)
    sf.write(str(folder / "b_stereo.wav"), np.stack([0.5 * LOW + HIGH, LOW], axis=1), SR)
    sf.write(str(folder / "c_short.wav"), (LOW + HIGH)[:SR], SR)
    (folder / "notes.txt").write_text("not audio")
    return {"root": root, "folder": folder, "ckpt": write_checkpoint(str(root / "ckpt.pth"))}


def run_main(monkeypatch, capsys, *argv):
    monkeypatch.setattr(leadvoice, "_SILERO_VAD_MODEL", None)
    call_main(monkeypatch, leadvoice, *argv, "--device", "cpu")
    return capsys.readouterr().out.split("\n")


def recording_blocks(out):
    """Console lines of each recording: from its first log line to the line before '日志已保存到'."""
    blocks, current = [], None
    for line in out:
        if line.startswith("日志将保存到: "):
            current = [line]
        elif line.startswith("日志已保存到: "):
            blocks.append((line[len("日志已保存到: "):], current))
            current = None
        elif current is not None:
            current.append(line)
    return blocks


def check_recording(block, wav_path, save_dir, seconds, windows):
    """The driver's own lines of one recording, in order; returns the main id or None."""
    assert block[0] == "日志将保存到: " + save_dir + "/log.txt"
    assert block[1:5] == ["加载混合音频: " + wav_path + f", 采样率: 16000, 时长: {seconds:.2f}s", "", "开始处理...",
                          f"总计 {windows} 个片段需要处理"]
    count_at = block.index(next(line for line in block if line.startswith("检测到 ")))
    assert block[count_at - 1] == ""
    speakers = int(re.fullmatch(r"检测到 (\d+) 个全局说话人", block[count_at]).group(1))
    mix_at = block.index("保存原始mix音频: " + save_dir + "/mix.wav")
    if block[mix_at + 1] == "[警告] 未能选出主通道，跳过主通道保存":
        main_gid = None
    else:
        main_gid = int(re.fullmatch(re.escape("保存主通道音频: " + save_dir + "/main_speaker_") + r"(\d+)\.wav",
                                    block[mix_at + 1]).group(1))
        assert block[mix_at - 1].startswith("  -> 主通道: 说话人" + str(main_gid) + " (")
    report = block[mix_at + 2:]
    assert report[:2] == ["", "=== 说话人追踪统计 ==="]
    assert report[-2:] == ["", "处理完成！结果保存至: " + save_dir]
    hop = 1.2
    for k, line in enumerate(report[2:-2]):
        start, end = k * hop, min(k * hop + 2.4, seconds)
        match = re.fullmatch(rf"片段 {k + 1}: \[{start:.2f}s - {end:.2f}s\] -> 说话人: \[([-\d, ]*)\]", line)
        assert match, line
        assert all(0 <= int(i) < speakers for i in match.group(1).split(", "))
    assert len(report) - 4 == windows
    return main_gid


def correlation(a, b):
    return float(np.dot(a, b) / (np.linalg.norm(a) * np.linalg.norm(b)))


def test_folder_run(monkeypatch, capsys, inputs, tmp_path):
    folder, out_root = str(inputs["folder"]), str(tmp_path / "out")
    out = run_main(monkeypatch, capsys, "--data_path", folder, "--inference", inputs["ckpt"], "--save_dir", out_root)
    assert out[:5] == ["输入模式: directory -> 共 3 个 wav 文件", "CUDA不可用，使用CPU", "加载分离模型...",
                       "加载说话人追踪器(WeSpeaker)...", "正在加载WeSpeaker模型: chinese"]
    assert out[-1] == ""
    blocks = recording_blocks(out)
    assert [b[0] for b in blocks] == [f"{out_root}/{stem}/log.txt" for stem in ("A_two", "b_stereo", "c_short")]
    # The log holds exactly what the console showed for that recording.
    for log_path, block in blocks:
        assert open(log_path, encoding="utf-8").read() == "\n".join(block) + "\n"
    assert sorted(os.listdir(out_root)) == ["A_two", "b_stereo", "c_short"]

    expected = {"A_two": (LOW + 0.5 * HIGH, LOW), "b_stereo": (0.5 * LOW + HIGH, HIGH)}
    for (_, block), (stem, name, seconds, windows) in zip(blocks, [
            ("A_two", "A_two.WAV", 6.0, 4), ("b_stereo", "b_stereo.wav", 6.0, 4), ("c_short", "c_short.wav", 1.0, 0)]):
        save_dir = f"{out_root}/{stem}"
        main_gid = check_recording(block, f"{folder}/{name}", save_dir, seconds, windows)
        mix, rate = sf.read(save_dir + "/mix.wav")
        first_channel = sf.read(f"{folder}/{name}")[0]
        first_channel = first_channel[:, 0] if first_channel.ndim == 2 else first_channel
        assert rate == SR and mix.ndim == 1 and sf.info(save_dir + "/mix.wav").subtype == "PCM_16"
        np.testing.assert_array_equal(mix, first_channel)
        if stem == "c_short":
            assert main_gid is None
            assert "检测到 0 个全局说话人" in block
            assert sorted(os.listdir(save_dir)) == ["log.txt", "mix.wav"]
            continue
        assert sorted(os.listdir(save_dir)) == ["log.txt", f"main_speaker_{main_gid}.wav", "mix.wav"]
        main, rate = sf.read(f"{save_dir}/main_speaker_{main_gid}.wav")
        assert rate == SR and len(main) == len(mix)
        # The louder talker of the first channel is the one kept.
        assert correlation(main, expected[stem][1]) > 0.9


def test_task_list_run(monkeypatch, capsys, inputs, tmp_path):
    folder = inputs["folder"]
    two, stereo = str(folder / "A_two.WAV"), str(folder / "b_stereo.wav")
    jsonl = tmp_path / "tasks.jsonl"
    jsonl.write_text("\n".join([
        json.dumps({"prompt_wav": two, "multi_spks_rate": 0.91, "id": "u1"}),
        "",
        "{not json",
        json.dumps([two, 0.9]),
        json.dumps({"prompt_wav": stereo, "multi_spks_rate": 0.2}),
        json.dumps({"prompt_wav": stereo}),
        json.dumps({"prompt_wav": str(folder / "gone.wav"), "multi_spks_rate": 0.9}),
        json.dumps({"prompt_wav": stereo, "multi_spks_rate": "0.75"}),
    ]) + "\n", encoding="utf-8")
    out_root = str(tmp_path / "out")
    out = run_main(monkeypatch, capsys, "--data_jsonl", str(jsonl), "--inference", inputs["ckpt"],
                   "--save_dir", out_root)
    assert out[:8] == [
        "输入模式: jsonl -> " + str(jsonl),
        "[警告] jsonl第3行解析失败，跳过: Expecting property name enclosed in double quotes: line 1 column 2 (char 1)",
        "[警告] jsonl第4行不是JSON对象，跳过",
        "[警告] jsonl第7行 prompt_wav 文件不存在: " + str(folder / "gone.wav") + "，跳过",
        "[jsonl] 总行数=7，待处理(multi_spks_rate>0.5)=2，无该字段跳过=1，未超阈值跳过=1，解析失败=2，wav缺失=1",
        "CUDA不可用，使用CPU", "加载分离模型...", "加载说话人追踪器(WeSpeaker)...",
    ]
    blocks = recording_blocks(out)
    assert [b[0] for b in blocks] == [f"{out_root}/A_two/log.txt", f"{out_root}/b_stereo/log.txt"]
    for (_, block), wav, stem in zip(blocks, (two, stereo), ("A_two", "b_stereo")):
        assert check_recording(block, wav, f"{out_root}/{stem}", 6.0, 4) is not None


def test_threshold_option_and_empty_list(monkeypatch, capsys, inputs, tmp_path):
    jsonl = tmp_path / "tasks.jsonl"
    jsonl.write_text(json.dumps({"prompt_wav": str(inputs["folder"] / "A_two.WAV"), "multi_spks_rate": 0.9}) + "\n")
    out = run_main(monkeypatch, capsys, "--data_jsonl", str(jsonl), "--multi_spks_rate_threshold", "0.95",
                   "--inference", "/no/such.pth", "--save_dir", str(tmp_path / "out"))
    assert out == ["输入模式: jsonl -> " + str(jsonl),
                   "[jsonl] 总行数=1，待处理(multi_spks_rate>0.95)=0，无该字段跳过=0，未超阈值跳过=1，解析失败=0，wav缺失=0",
                   "没有需要处理的任务（无 multi_spks_rate>0.95 的 case），退出", ""]
    assert not (tmp_path / "out").exists()


@pytest.mark.parametrize("argv, error", [
    ([], "ValueError: 必须指定 --data_path 或 --data_jsonl 之一"),
    (["--data_path", "d", "--data_jsonl", "j"], "ValueError: --data_path 与 --data_jsonl 互斥，请只指定其中一个"),
    (["--data_path", "/no/such/folder"], "ValueError: --data_path must be a directory, got: /no/such/folder"),
    (["--data_jsonl", "/no/such.jsonl"], "FileNotFoundError: jsonl file not found: /no/such.jsonl"),
    (["--data_path", "{folder}", "--inference", "/no/ckpt.pth", "--save_dir", "{out}"],
     "FileNotFoundError: Checkpoint not found: /no/ckpt.pth"),
])
def test_launcher_error_texts(inputs, tmp_path, argv, error):
    argv = [a.format(folder=inputs["folder"], out=tmp_path / "out") for a in argv]
    done = launch("-m", "leadvoice", *argv, "--device", "cpu")
    assert done.returncode == 1
    assert done.stderr.rstrip("\n").split("\n")[-1] == error
    assert not (tmp_path / "out").exists()


def test_launcher_usage_and_full_run(inputs, tmp_path):
    bad = launch("-m", "leadvoice", "--max_speakers", "2.5")
    assert bad.returncode == 2 and "invalid int value: '2.5'" in bad.stderr
    done = launch("-m", "leadvoice", "--data_path", str(inputs["folder"]), "--inference", inputs["ckpt"],
                  "--save_dir", str(tmp_path / "out"), "--device", "cpu", "--rms_normalize")
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines()[-3:] == ["日志已保存到: " + str(tmp_path / "out" / "c_short" / "log.txt"), "",
                                             leadvoice_summary(total=3, done=2, no_main=1)]
    assert sorted(os.listdir(tmp_path / "out")) == ["A_two", "b_stereo", "c_short"]


def test_whole_task_list_run_keeps_going_past_every_bad_entry(tmp_path):
    """Entries that share a stem, cannot be read, are not finite, carry names that are not valid UTF-8 (raw in the
    list, and as JSON escapes) and reuse a folder an earlier run left streams in, under a save root that is not
    valid UTF-8 either: each ends with its outputs or one warning, and the run ends normally."""
    src = tmp_path / "src"
    (src / "a").mkdir(parents=True)
    (src / "b").mkdir()
    mix = LOW + 0.5 * HIGH
    nan = mix[:3 * SR].copy()
    nan[SR] = np.nan
    wavs = {}

    def wav(name, signal, **kwargs):
        path = os.path.join(os.fsencode(src), os.fsencode(name))
        sf.write(path, signal, SR, **kwargs)
        wavs[name] = os.fsdecode(path)

    wav("a/rec.wav", mix)
    wav("b/rec.wav", mix[:3 * SR])
    wav("nan.wav", nan, subtype="FLOAT")
    wav(os.fsdecode(b"caf\xff.wav"), mix[:3 * SR])
    wav(os.fsdecode(b"caf\xfe.wav"), mix[:3 * SR])
    wav("stale.wav", mix[:3 * SR])
    (src / "notes.wav").write_text("not audio")
    (src / "empty.wav").write_bytes(b"")
    wavs["notes.wav"], wavs["empty.wav"] = str(src / "notes.wav"), str(src / "empty.wav")
    out_root = os.path.join(os.fsencode(tmp_path), b"out\xff")
    stale_dir = os.path.join(out_root, b"stale")
    os.makedirs(stale_dir)
    for name in (b"main_speaker_5.wav", b"other_speaker_2.wav", b"keep.txt"):
        open(os.path.join(stale_dir, name), "wb").write(b"old")

    order = ["a/rec.wav", "b/rec.wav", "notes.wav", "empty.wav", "nan.wav", os.fsdecode(b"caf\xff.wav"),
             os.fsdecode(b"caf\xfe.wav"), "stale.wav"]
    jsonl = tmp_path / "tasks.jsonl"
    with open(jsonl, "wb") as f:
        for name in order:
            # One non-UTF-8 name as its raw bytes, the other as the escape json.dumps writes by default.
            escaped = name == os.fsdecode(b"caf\xfe.wav")
            line = json.dumps({"prompt_wav": wavs[name], "multi_spks_rate": 0.9}, ensure_ascii=escaped)
            f.write(line.encode("utf-8", "surrogateescape") + b"\n")
        f.write(json.dumps({"prompt_wav": wavs["a/rec.wav"], "multi_spks_rate": 0.1}).encode() + b"\n")
    raw = jsonl.read_bytes()
    assert b"caf\xff.wav" in raw and b"caf\\udcfe.wav" in raw
    ckpt = write_checkpoint(str(tmp_path / "ckpt.pth"))
    done = launch("-m", "leadvoice", "--data_jsonl", str(jsonl), "--inference", ckpt, "--save_dir", out_root,
                  "--device", "cpu", env=BYTES_CONSOLE, text=False, timeout=300)
    out = done.stdout.decode("utf-8", "surrogateescape").split("\n")
    assert done.returncode == 0, done.stderr.decode("utf-8", "replace")
    assert done.stderr == b""

    root = os.fsdecode(out_root)
    folder = {name: os.path.join(root, os.path.splitext(os.path.basename(name))[0]) for name in order}
    assert out[1] == "[jsonl] 总行数=9，待处理(multi_spks_rate>0.5)=8，无该字段跳过=0，未超阈值跳过=1，解析失败=0，wav缺失=0"
    warnings = [line for line in out if line.startswith("[警告] ") and "采样率" not in line]
    assert warnings == [
        "[警告] 输出目录 " + folder["a/rec.wav"] + " 已被本次运行中前面的任务 jsonl第1行 " + wavs["a/rec.wav"] +
        " 使用，跳过: " + wavs["b/rec.wav"],
        warnings[1], warnings[2],
        "[警告] 音频含有非有限值(NaN/inf)的采样，跳过: " + wavs["nan.wav"],
        "[警告] 已删除输出目录中旧的说话人音频 2 个: " + folder["stale.wav"],
    ]
    for line, name in zip(warnings[1:3], ("notes.wav", "empty.wav")):
        assert line.startswith("[警告] 无法读取音频，跳过: Error opening '" + wavs[name] + "': ")
    assert out[-3:] == ["", leadvoice_summary(total=8, done=4, unreadable=2, not_finite=1, folder_taken=1), ""]

    blocks = recording_blocks(out)
    kept = ["a/rec.wav", os.fsdecode(b"caf\xff.wav"), os.fsdecode(b"caf\xfe.wav"), "stale.wav"]
    assert [b[0] for b in blocks] == [os.path.join(folder[name], "log.txt") for name in kept]
    assert sorted(os.listdir(out_root)) == sorted([b"rec", b"caf\xff", b"caf\xfe", b"stale"])
    for (log_path, block), name in zip(blocks, kept):
        seconds = 6.0 if name == "a/rec.wav" else 3.0
        if name == "stale.wav":
            assert block.pop(1) == warnings[-1]
        main_gid = check_recording(block, wavs[name], folder[name], seconds, 4 if seconds == 6.0 else 2)
        assert main_gid is not None
        # The log holds the console's bytes: a name that is not UTF-8 stays as it is on disk.
        with open(os.fsencode(log_path), "rb") as f:
            logged = f.read().decode("utf-8", "surrogateescape").split("\n")
        assert logged == block[:1] + (warnings[-1:] if name == "stale.wav" else []) + block[1:] + [""]
        expected = {"log.txt", "mix.wav", f"main_speaker_{main_gid}.wav"} | ({"keep.txt"} if name == "stale.wav" else set())
        assert set(os.listdir(folder[name])) == expected
        assert sf.info(os.fsencode(os.path.join(folder[name], "mix.wav"))).frames == int(seconds * SR)


def test_folder_run_with_names_that_are_not_utf8(tmp_path):
    base = os.fsencode(tmp_path)
    folder = os.path.join(base, b"in\xff")
    os.makedirs(folder)
    sf.write(os.path.join(folder, b"r\xe9c.wav"), (LOW + 0.5 * HIGH)[:3 * SR], SR)
    open(os.path.join(folder, b"t\xff.wav"), "wb").write(b"text")
    out_root = os.path.join(base, b"out\xff")
    done = launch("-m", "leadvoice", "--data_path", folder, "--save_dir", out_root,
                  "--inference", write_checkpoint(str(tmp_path / "ckpt.pth")), "--device", "cpu",
                  env=BYTES_CONSOLE, text=False, timeout=300)
    assert done.returncode == 0, done.stderr.decode("utf-8", "replace")
    out = done.stdout.decode("utf-8", "surrogateescape").split("\n")
    wav = os.fsdecode(os.path.join(folder, b"r\xe9c.wav"))
    assert "加载混合音频: " + wav + ", 采样率: 16000, 时长: 3.00s" in out
    assert any(line.startswith("[警告] 无法读取音频，跳过: Error opening '" + os.fsdecode(os.path.join(folder, b"t\xff.wav")))
               for line in out)
    assert out[-2] == leadvoice_summary(total=2, done=1, unreadable=1)
    assert os.listdir(out_root) == [b"r\xe9c"]
    log, main, mix = sorted(os.listdir(os.path.join(out_root, b"r\xe9c")))
    assert (log, mix) == (b"log.txt", b"mix.wav") and re.fullmatch(rb"main_speaker_\d+\.wav", main)


@pytest.mark.parametrize("mode, target, spelling", [
    ("folder", "b.wav", "same"),
    ("folder", "ckpt", "symlink"),
    ("jsonl", "tasks", "hardlink"),
    ("jsonl", "b.wav", "dotted"),
    ("jsonl", "ckpt", "same"),
])
def test_a_log_file_over_an_input_is_refused_before_anything_is_written(tmp_path, mode, target, spelling):
    src = tmp_path / "in"
    src.mkdir()
    wavs = [str(src / name) for name in ("a.wav", "b.wav")]
    for k, wav in enumerate(wavs):
        sf.write(wav, (LOW + HIGH)[:(2 + k) * SR], SR)
    ckpt = write_checkpoint(str(tmp_path / "ckpt.pth"))
    jsonl = tmp_path / "tasks.jsonl"
    jsonl.write_text("\n" + "".join(json.dumps({"prompt_wav": w, "multi_spks_rate": 0.9}) + "\n" for w in wavs))
    inputs = [ckpt, str(jsonl), *wavs]
    before = {path: open(path, "rb").read() for path in inputs}
    path = {"b.wav": wavs[1], "ckpt": ckpt, "tasks": str(jsonl)}[target]
    log_file = {"same": path, "symlink": str(tmp_path / "link.log"), "hardlink": str(tmp_path / "hard.log"),
                "dotted": str(src) + "/./b.wav"}[spelling]
    if spelling == "symlink":
        os.symlink(path, log_file)
    elif spelling == "hardlink":
        os.link(path, log_file)
    source = ["--data_path", str(src)] if mode == "folder" else ["--data_jsonl", str(jsonl)]
    out_root = tmp_path / "out"
    done = launch("-m", "leadvoice", *source, "--inference", ckpt, "--save_dir", str(out_root),
                  "--log_file", log_file, "--device", "cpu")
    assert done.returncode == 1
    named = {"b.wav": ("jsonl第3行的音频" if mode == "jsonl" else "--data_path 中的音频", "该音频", "wav: " + wavs[1]),
             "ckpt": ("--inference", "CSS 分离模型权重", "inference: " + ckpt),
             "tasks": ("--data_jsonl", "任务列表", "data_jsonl: " + str(jsonl))}[target]
    assert done.stderr.rstrip("\n").split("\n")[-1] == (
        f"ValueError: --log_file 与 {named[0]} 是同一个文件，写日志会清空{named[1]}: {log_file} ({named[2]})")
    assert {path: open(path, "rb").read() for path in inputs} == before
    assert not out_root.exists() and "加载分离模型..." not in done.stdout


@pytest.mark.parametrize("log_file, named", [
    # A line below the threshold still names its recording.
    ("in/c.wav", "jsonl第4行的音频 是同一个文件，写日志会清空该音频: in/c.wav (wav: {src}/c.wav)"),
    # Files that a recording writes or removes in its folder, through a linked save folder too.
    ("out/a/mix.wav", "是 jsonl第2行的音频 ({src}/a.wav) 在 --save_dir 下的输出文件，运行会覆盖或删除它，日志会丢失: "
                      "out/a/mix.wav (out/a/mix.wav)"),
    ("OL/b/main_speaker_0.wav", "是 jsonl第3行的音频 ({src}/b.wav) 在 --save_dir 下的输出文件，运行会覆盖或删除它，"
                                "日志会丢失: OL/b/main_speaker_0.wav (out/b/main_speaker_0.wav)"),
    ("OL/a/.mix.wav.x1Y2z3", "是 jsonl第2行的音频 ({src}/a.wav) 在 --save_dir 下的输出文件，运行会覆盖或删除它，"
                             "日志会丢失: OL/a/.mix.wav.x1Y2z3 (out/a/.mix.wav.x1Y2z3)"),
])
def test_a_log_file_over_any_named_recording_or_a_recordings_output_is_refused(tmp_path, log_file, named):
    src = tmp_path / "in"
    src.mkdir()
    wavs = [str(src / name) for name in ("a.wav", "b.wav", "c.wav")]
    for k, wav in enumerate(wavs):
        sf.write(wav, (LOW + HIGH)[:(2 + k) * SR], SR)
    ckpt = write_checkpoint(str(tmp_path / "ckpt.pth"))
    jsonl = tmp_path / "tasks.jsonl"
    rates = [0.9, 0.9, 0.1]
    jsonl.write_text("not json\n" + "".join(json.dumps({"prompt_wav": w, "multi_spks_rate": r}) + "\n"
                                          for w, r in zip(wavs, rates)))
    (tmp_path / "out").mkdir()
    os.symlink("out", tmp_path / "OL")
    inputs = [ckpt, str(jsonl), *wavs]
    before = {path: open(path, "rb").read() for path in inputs}
    done = launch("-m", "leadvoice", "--data_jsonl", str(jsonl), "--inference", ckpt, "--save_dir", "out",
                  "--log_file", log_file, "--device", "cpu", cwd=tmp_path)
    assert done.returncode == 1, done.stdout
    assert done.stderr.rstrip("\n").split("\n")[-1] == "ValueError: --log_file " + (
        "" if named.startswith("是") else "与 ") + named.format(src=src)
    assert {path: open(path, "rb").read() for path in inputs} == before
    assert os.listdir(tmp_path / "out") == [] and "加载分离模型..." not in done.stdout


@pytest.mark.parametrize("mode", ["folder", "jsonl"])
def test_a_recording_that_a_recordings_folder_would_overwrite_is_refused(tmp_path, mode):
    # A rerun on what an earlier run left: out/mix/ holds mix.wav, and the
    # recording mix.wav has out/mix/ for its own folder.
    folder = tmp_path / "out" / "mix"
    folder.mkdir(parents=True)
    sf.write(str(folder / "mix.wav"), np.stack([LOW, HIGH], axis=1)[:3 * SR], SR)
    sf.write(str(folder / "main_speaker_0.wav"), LOW[:3 * SR], SR)
    kept = {name: (folder / name).read_bytes() for name in os.listdir(folder)}
    jsonl = tmp_path / "tasks.jsonl"
    jsonl.write_text("".join(json.dumps({"prompt_wav": str(folder / name), "multi_spks_rate": rate}) + "\n"
                             for name, rate in (("main_speaker_0.wav", 0.1), ("mix.wav", 0.9))))
    source = ["--data_path", str(folder)] if mode == "folder" else ["--data_jsonl", str(jsonl)]
    done = launch("-m", "leadvoice", *source, "--inference", write_checkpoint(str(tmp_path / "ckpt.pth")),
                  "--save_dir", str(tmp_path / "out"), "--device", "cpu")
    assert done.returncode == 1, done.stdout
    wav, line, task, task_line = {
        "folder": (folder / "main_speaker_0.wav", "--data_path 中的音频", folder / "mix.wav", "--data_path 中的音频"),
        "jsonl": (folder / "main_speaker_0.wav", "jsonl第1行的音频", folder / "mix.wav", "jsonl第2行的音频")}[mode]
    assert done.stderr.rstrip("\n").split("\n")[-1] == (
        f"ValueError: {line} 是 {task_line} ({task}) 在 --save_dir 下的输出文件，运行会覆盖或删除它: {wav} ({wav})")
    assert {name: (folder / name).read_bytes() for name in os.listdir(folder)} == kept
    assert "加载分离模型..." not in done.stdout


def test_a_save_dir_that_fills_during_the_run(tmp_path, small_tmpfs):
    """With room for one recording and a half: the second recording's main stream and the third's mix do not fit,
    the short fourth does. Each failure is that recording's warning, and no file under a result name is cut."""
    full = small_tmpfs("full", size="1m")
    if full is None:
        pytest.skip("this process may not mount")
    src = tmp_path / "in"
    src.mkdir()
    mix = LOW + 0.5 * HIGH
    seconds = {"r1": 3.0, "r2": 3.0, "r3": 3.0, "r4": 1.0}
    for stem, length in seconds.items():
        sf.write(str(src / f"{stem}.wav"), mix[:int(length * SR)], SR)
    ckpt = write_checkpoint(str(tmp_path / "ckpt.pth"))
    before = {p.name: p.read_bytes() for p in src.iterdir()}
    # A 3 s stream takes 24 pages, a log one: r1 takes 49, r2 25 and then finds 14 free for its main stream.
    fill(full, 88 * PAGE)
    sep = full / "sep"
    done = launch("-m", "leadvoice", "--data_path", str(src), "--inference", ckpt, "--save_dir", str(sep),
                  "--device", "cpu", timeout=300)
    assert done.returncode == 0, done.stderr
    assert "Traceback" not in done.stderr
    out = done.stdout.split("\n")
    warnings = [line for line in out if line.startswith("[警告] ")]
    assert len(warnings) == 3 and warnings[2] == "[警告] 未能选出主通道，跳过主通道保存"
    for warning, stem, name in zip(warnings, ("r2", "r3"), ("main_speaker_", "mix.wav")):
        assert re.fullmatch(re.escape(f"[警告] 写入输出失败，跳过: {src}/{stem}.wav (Error writing '{sep}/{stem}/{name}")
                            + r"(\d+\.wav)?': .*No space left on device\.\)", warning), warning
        # The warning reached the recording's log too.
        assert (sep / stem / "log.txt").read_text(encoding="utf-8").endswith("\n" + warning + "\n")
    assert out[-2] == leadvoice_summary(total=4, done=1, no_main=1, output_failed=2)
    kept = {stem: sorted(p.name for p in (sep / stem).iterdir()) for stem in seconds}
    assert kept["r2"][:2] == ["log.txt", "mix.wav"] and kept["r3"] == ["log.txt"] and kept["r4"] == ["log.txt", "mix.wav"]
    assert len(kept["r1"]) == 3 and len(kept["r2"]) == 2
    # Whatever stands under a result name is whole, and no temporary is left.
    for stem, names in kept.items():
        for name in names:
            if name.endswith(".wav"):
                assert sf.info(str(sep / stem / name)).frames == int(seconds[stem] * SR), (stem, name)
    assert {p.name: p.read_bytes() for p in src.iterdir()} == before


def test_a_save_dir_full_from_the_start_warns_for_every_recording(tmp_path, small_tmpfs):
    """The folders and logs can still be made, but no log takes its first line: each recording is its warning naming
    its log, the console keeps every line, and the run ends with its summary."""
    full = small_tmpfs("full")
    if full is None:
        pytest.skip("this process may not mount")
    src = tmp_path / "in"
    src.mkdir()
    for stem in ("a", "b"):
        sf.write(str(src / f"{stem}.wav"), (LOW + 0.5 * HIGH)[:2 * SR], SR)
    ckpt = write_checkpoint(str(tmp_path / "ckpt.pth"))
    fill(full, 0)
    sep = full / "sep"
    done = launch("-m", "leadvoice", "--data_path", str(src), "--inference", ckpt, "--save_dir", str(sep),
                  "--device", "cpu", timeout=300)
    assert done.returncode == 0, done.stderr
    assert "Traceback" not in done.stderr
    warnings = [line for line in done.stdout.split("\n") if line.startswith("[警告] ")]
    assert warnings == [f"[警告] 写入输出失败，跳过: {src}/{stem}.wav ([Errno 28] No space left on device: "
                        f"'{sep}/{stem}/log.txt')" for stem in ("a", "b")]
    assert done.stdout.split("\n")[-2] == leadvoice_summary(total=2, done=0, output_failed=2)
    for stem in ("a", "b"):
        assert [p.name for p in (sep / stem).iterdir()] == ["log.txt"]


def test_a_recording_without_a_main_channel_is_not_counted_as_done(monkeypatch, capsys, tmp_path):
    """A silent recording is separated and its mix saved, but no stream is chosen: the summary, which a script
    reads, counts it on its own, not as done."""
    src = tmp_path / "in"
    src.mkdir()
    sf.write(str(src / "a_two.wav"), LOW + 0.5 * HIGH, SR)
    sf.write(str(src / "b_silent.wav"), np.zeros(6 * SR), SR)
    out_root = tmp_path / "out"
    out = run_main(monkeypatch, capsys, "--data_path", str(src), "--inference",
                   write_checkpoint(str(tmp_path / "ckpt.pth")), "--save_dir", str(out_root))
    assert out.count("[警告] 未能选出主通道，跳过主通道保存") == 1
    assert out[-2] == leadvoice_summary(total=2, done=1, no_main=1)
    assert sorted(os.listdir(out_root / "b_silent")) == ["log.txt", "mix.wav"]
    assert any(name.startswith("main_speaker_") for name in os.listdir(out_root / "a_two"))
