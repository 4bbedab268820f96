"""Whole pipeline runs with the stand-in separation network, speaker model and
VAD, and a detector network whose rate follows the signal's peak: every
outcome of an utterance in one run, checked line by line and file by file;
runs that are interrupted or refused; a detector network of the user's own."""
import json
import os
import re

import numpy as np
import pytest
import soundfile as sf
import torch

import leadvoice
import triageflow
from helpers import BYTES_CONSOLE, SR, TESTS, call_main, harmonic_voice, launch, two_talkers
from speech_resample import librosa
from triage_fakes import (OneLayer, PeakDetector, peak_rate, save_detector_checkpoint, save_real_detector_checkpoint,
                          write_scp)

HOP = 19200
FAIL_SECONDS = 2.2


@pytest.fixture(autouse=True)
def peak_detector(monkeypatch):
    monkeypatch.setattr(triageflow, "NoisyDetectorV2", PeakDetector)
    monkeypatch.setattr(leadvoice, "_SILERO_VAD_MODEL", None)


def run_main(monkeypatch, capsys, *argv):
    call_main(monkeypatch, triageflow, *argv, "--device", "cpu")
    captured = capsys.readouterr()
    return captured.out.split("\n"), captured.err


def pair_list(pairs):
    """A JSON object as its [key, value] members, in file order."""
    return [list(p) for p in pairs]


def result_lines(path):
    text = open(path, encoding="utf-8").read()
    assert text.endswith("\n")
    return text[:-1].split("\n")


def blocks_by_header(out, n_total):
    """The console lines of each entry, after its header, up to the blank line before the next print block."""
    heads = [i for i, line in enumerate(out) if re.fullmatch(rf"========== \[\d+/{n_total}\] .* ==========", line)]
    ends = heads[1:] + [out.index("========== 处理完成 ==========")]
    return [(out[h], out[h + 1:e - 1]) for h, e in zip(heads, ends)]


@pytest.fixture
def inputs(tmp_path):
    src = tmp_path / "in"
    (src / "adir").mkdir(parents=True)
    (src / "dir with blanks").mkdir()
    files = {}

    def wav(name, signal, sr=SR, **kw):
        path = str(src / name)
        sf.write(path, signal, sr, **kw)
        files[name] = path
        return path

    wav("single.wav", two_talkers(3.0, 0.2, seed=10))
    wav("at.wav", two_talkers(3.0, 0.5, seed=20))
    one_hop = two_talkers(3.0, 0.6, seed=30)[:HOP + 1]
    one_hop *= 0.6 / np.abs(one_hop).max()
    wav("hop.wav", one_hop[:HOP])
    wav("hop1.wav", one_hop)
    stereo = np.stack([two_talkers(2.5, 0.6, sr=44100, seed=40), 0.05 * harmonic_voice(2.5, 300, 900, 41, 44100)], axis=1)
    wav("stereo44k.wav", stereo, sr=44100)
    wav("fails.wav", two_talkers(FAIL_SECONDS, 0.6, seed=50))
    wav("dir with blanks/a b.wav", two_talkers(2.8, 0.7, seed=60))
    wav("two.wav", two_talkers(3.2, 0.6, seed=70))
    nan = two_talkers(2.0, 0.6, seed=80)
    nan[100] = np.nan
    wav("nan.wav", nan, subtype="FLOAT")
    wav("noframes.wav", np.zeros(0))
    (src / "empty.wav").write_bytes(b"")
    (src / "corrupt.wav").write_bytes(b"RIFF\x10\x00\x00\x00WAVEjunk" + bytes(range(200)))
    for name in ("empty.wav", "corrupt.wav"):
        files[name] = str(src / name)
    files["adir"], files["gone.wav"] = str(src / "adir"), str(src / "gone.wav")
    return files


def test_every_outcome_in_one_run(monkeypatch, capsys, pipeline_models, inputs, tmp_path):
    f = inputs
    entries = [
        ("missing", f["gone.wav"]), ("folder", f["adir"]), ("corrupt", f["corrupt.wav"]),
        ("empty", f["empty.wav"]), ("noframes", f["noframes.wav"]), ("nan", f["nan.wav"]),
        ("single", f["single.wav"]), ("at_threshold", f["at.wav"]), ("hop", f["hop.wav"]),
        ("hop_plus_one", f["hop1.wav"]), ("stereo", f["stereo44k.wav"]), ("fails", f["fails.wav"]),
        ("说话人_甲", f["dir with blanks/a b.wav"]), ("../escape", f["two.wav"]),
        ("dup", f["two.wav"]), ("dup", f["at.wav"]),
    ]
    scp_lines = ["# utterances", ""] + [f"{i}\t{p}" for i, p in entries[:6]] + ["   ", "only_one_field"]
    scp_lines += [f"{i}  {p}  " for i, p in entries[6:]]
    scp = tmp_path / "list.scp"
    scp.write_text("\r\n".join(scp_lines) + "\n", encoding="utf-8")

    audio = {name: triageflow.load_audio_16k(f[name])[0] for name in
             ("single.wav", "at.wav", "hop.wav", "hop1.wav", "stereo44k.wav", "fails.wav",
              "dir with blanks/a b.wav", "two.wav")}
    # The first channel alone decides the stereo file's rate.
    first = librosa.resample(sf.read(f["stereo44k.wav"])[0][:, 0], orig_sr=44100, target_sr=SR)
    np.testing.assert_array_equal(audio["stereo44k.wav"], first.astype(np.float32))
    rates = {name: peak_rate(np.abs(a).max()) for name, a in audio.items()}
    threshold = rates["at.wav"]
    assert rates["single.wav"] < threshold < min(r for n, r in rates.items() if n not in ("single.wav", "at.wav"))

    real_choice = triageflow.select_main_channel

    def choice(global_streams, sample_rate):
        if any(len(s) == int(FAIL_SECONDS * SR) for s in global_streams.values()):
            raise RuntimeError("主通道选择出错")
        return real_choice(global_streams, sample_rate=sample_rate)

    monkeypatch.setattr(triageflow, "select_main_channel", choice)
    save, out_jsonl = str(tmp_path / "sep"), str(tmp_path / "res" / "out.jsonl")
    out, err = run_main(monkeypatch, capsys, "--scp", str(scp), "--out_jsonl", out_jsonl, "--save_dir", save,
                        "--detector_ckpt", pipeline_models["detector"], "--inference", pipeline_models["sep"],
                        "--multi_spks_threshold", repr(threshold))

    assert out[:12] == [
        "[警告] CUDA 不可用，回退到 CPU", "[警告] scp 第10行格式错误，跳过: only_one_field",
        f"[scp] 共加载 16 条音频: {scp}", "", "[阶段1] 加载多说话人检测模型...",
        "[检测器] NoisyDetectorV2 加载成功: " + pipeline_models["detector"], "", "[阶段2] 加载 CSS 分离模型...", "",
        "[阶段3] 加载 WeSpeaker 说话人追踪器...", "正在加载WeSpeaker模型: chinese", ""]
    assert out[-9:] == ["", "========== 处理完成 ==========", "总条数:        16", "  单人(跳过):  1",
                        "  多人(分离):  5", "  失败:        10", "输出 jsonl:   " + out_jsonl, "分离结果目录: " + save, ""]

    lines = result_lines(out_jsonl)
    assert len(lines) == 16
    records = [json.loads(line, object_pairs_hook=pair_list) for line in lines]
    # Non-ASCII text is written as itself, with the library's separators.
    assert lines[12].startswith('{"id": "说话人_甲", "wav_path": "' + f["dir with blanks/a b.wav"] + '", ')
    blocks = blocks_by_header(out, 16)
    assert [h for h, _ in blocks] == [f"========== [{k}/16] {i} ==========" for k, (i, _) in enumerate(entries, 1)]

    def failure(k, error):
        i, p = entries[k]
        assert records[k] == [["id", i], ["wav_path", p], ["multi_spks", False], ["multi_spks_rate", None],
                              ["error", error]]

    def rate_line(name):
        return f"multi_spks_rate = {rates[name]:.4f} (阈值 {threshold!r})"

    for k in (0, 1):
        failure(k, "wav_not_found")
        assert blocks[k][1] == ["[错误] wav 不存在: " + entries[k][1]]
    for k in (2, 3):
        text = records[k][4][1][len("load_failed: "):]
        assert text.startswith(f"Error opening '{entries[k][1]}'")
        failure(k, "load_failed: " + text)
        assert blocks[k][1] == ["[错误] 读取音频失败: " + text]
    for k, expected in ((4, None), (5, "multi_spks_rate 不是有限值: nan")):
        text = records[k][4][1][len("detector_failed: "):]
        assert text and (expected is None or text == expected)
        failure(k, "detector_failed: " + text)
        assert blocks[k][1] == ["[错误] 多说话人检测失败: " + text]
    assert records[6] == [["id", "single"], ["wav_path", f["single.wav"]], ["multi_spks_rate", rates["single.wav"]],
                          ["multi_spks", False]]
    assert blocks[6][1] == [rate_line("single.wav"), "-> 判定为单人，跳过分离"]
    assert records[8] == [["id", "hop"], ["wav_path", f["hop.wav"]], ["multi_spks_rate", rates["hop.wav"]],
                          ["multi_spks", True], ["error", "audio_too_short_for_css: duration=1.20s <= hop_duration=1.2s"]]
    assert blocks[8][1] == [rate_line("hop.wav"), "-> 音频过短 (1.20s <= hop_duration 1.2s)，跳过分离"]
    assert records[13] == [["id", "../escape"], ["wav_path", f["two.wav"]], ["multi_spks_rate", rates["two.wav"]],
                           ["multi_spks", True], ["error", "unsafe_utt_id: utt_id has a '..' component"]]
    assert blocks[13][1] == [rate_line("two.wav"), "[错误] utt_id 不能用作输出子目录: utt_id has a '..' component"]
    assert not (tmp_path / "escape").exists()
    # A later entry of the same id would overwrite the files an earlier line points to.
    taken = f"{save}/dup"
    assert records[15] == [["id", "dup"], ["wav_path", f["at.wav"]], ["multi_spks_rate", rates["at.wav"]],
                           ["multi_spks", True],
                           ["error", f"duplicate_utt_id: output folder already used by entry 15 of this run: {taken}"]]
    assert blocks[15][1] == [rate_line("at.wav"), f"[错误] 输出目录已被本次第 15 条使用，跳过分离: {taken}"]

    separated = {7: "at.wav", 9: "hop1.wav", 10: "stereo44k.wav", 11: "fails.wav", 12: "dir with blanks/a b.wav",
                 14: "two.wav"}
    folder_files = {}
    for k, name in separated.items():
        utt_id, wav_path = entries[k]
        folder = f"{save}/{utt_id}"
        head = [["id", utt_id], ["wav_path", wav_path], ["multi_spks_rate", rates[name]], ["multi_spks", True]]
        assert records[k][:4] == head
        seconds = len(audio[name]) / SR
        block = blocks[k][1]
        assert block[:5] == [rate_line(name), f"日志文件: {folder}/log.txt",
                             f"音频: {wav_path}, 时长 {seconds:.2f}s, 采样率 16000", "",
                             f"开始分离: {utt_id}  ({wav_path}, {seconds:.2f}s)"]
        if k == 11:
            assert records[k][4:] == [["error", "separation_failed: 主通道选择出错"]]
            assert block[-1] == "[错误] 分离失败: 主通道选择出错"
            assert err.rstrip("\n").split("\n")[-1] == "RuntimeError: 主通道选择出错"
            assert err.startswith("Traceback (most recent call last):")
        paths = records[k][4:] if k != 11 else []
        keys = [key for key, _ in paths]
        expected_keys = (["main_spk_wav_path"] if keys[:1] == ["main_spk_wav_path"] else [])
        expected_keys += [f"other_spk{n}_wav_path" for n in range(1, len(keys) - len(expected_keys) + 1)]
        assert keys == expected_keys
        gids = []
        for key, path in paths:
            kind = "main" if key == "main_spk_wav_path" else "other"
            gid = re.fullmatch(re.escape(f"{folder}/{kind}_speaker_") + r"(\d+)\.wav", path).group(1)
            gids.append(gid)
            info = sf.info(path)
            assert (info.samplerate, info.channels, info.subtype, info.frames) == (SR, 1, "PCM_16", len(audio[name]))
        assert len(set(gids)) == len(gids)
        folder_files.setdefault(folder, set()).update(os.path.basename(p) for _, p in paths)
        # The log holds exactly what the console showed while it was open.
        assert open(f"{folder}/log.txt", encoding="utf-8").read() == "\n".join(block[1:]) + "\n"
    # Two talkers in separate bands leave a main and another speaker.
    assert [key for key, _ in records[14][4:]] == ["main_spk_wav_path", "other_spk1_wav_path"]
    for folder, names in folder_files.items():
        assert set(os.listdir(folder)) == names | {"log.txt"}
    assert sorted(os.listdir(save)) == sorted(["at_threshold", "hop_plus_one", "stereo", "fails", "说话人_甲", "dup"])


@pytest.mark.parametrize("where", ["load", "separation"])
def test_interrupt_keeps_every_written_line(monkeypatch, capsys, pipeline_models, inputs, tmp_path, where):
    f = inputs
    scp = write_scp(tmp_path, [("a", f["two.wav"]), ("b", f["at.wav"]), ("c", f["two.wav"])])
    real_load = triageflow.load_audio_16k
    real_choice = triageflow.select_main_channel

    def load(path):
        if where == "load" and path == f["at.wav"]:
            raise KeyboardInterrupt
        return real_load(path)

    def choice(global_streams, sample_rate):
        if where == "separation" and any(len(s) == 48000 for s in global_streams.values()):
            raise KeyboardInterrupt
        return real_choice(global_streams, sample_rate=sample_rate)

    monkeypatch.setattr(triageflow, "load_audio_16k", load)
    monkeypatch.setattr(triageflow, "select_main_channel", choice)
    out_jsonl = tmp_path / "out.jsonl"
    with pytest.raises(KeyboardInterrupt):
        run_main(monkeypatch, capsys, "--scp", str(scp), "--out_jsonl", str(out_jsonl), "--save_dir",
                 str(tmp_path / "sep"), "--detector_ckpt", pipeline_models["detector"],
                 "--inference", pipeline_models["sep"])
    out = capsys.readouterr().out
    assert "处理完成" not in out
    lines = result_lines(out_jsonl)
    assert len(lines) == 1
    assert [k for k, _ in json.loads(lines[0], object_pairs_hook=pair_list)][:4] == [
        "id", "wav_path", "multi_spks_rate", "multi_spks"]
    if where == "separation":
        # The interrupted utterance's log was closed with what it had.
        log = open(tmp_path / "sep" / "b" / "log.txt", encoding="utf-8").read()
        assert log.startswith("日志文件: ") and log.endswith("\n")


@pytest.mark.parametrize("spelling", ["same", "dotted", "symlink", "hardlink"])
def test_result_path_over_the_list_is_refused(monkeypatch, capsys, pipeline_models, inputs, tmp_path, spelling):
    scp = write_scp(tmp_path, [("u", inputs["two.wav"])])
    before = scp.read_bytes()
    target = {"same": str(scp), "dotted": str(tmp_path / "." / "x" / ".." / "list.scp")}.get(spelling)
    (tmp_path / "x").mkdir()
    if spelling == "symlink":
        target = str(tmp_path / "link.scp")
        os.symlink(scp, target)
    elif spelling == "hardlink":
        target = str(tmp_path / "hard.scp")
        os.link(scp, target)
    with pytest.raises(ValueError, match="--out_jsonl 与 --scp 是同一个文件"):
        run_main(monkeypatch, capsys, "--scp", str(scp), "--out_jsonl", target, "--save_dir", str(tmp_path / "sep"),
                 "--detector_ckpt", pipeline_models["detector"], "--inference", pipeline_models["sep"])
    assert scp.read_bytes() == before
    assert not (tmp_path / "sep").exists()


def test_empty_list_ends_before_any_folder_or_model(monkeypatch, capsys, tmp_path):
    scp = tmp_path / "list.scp"
    scp.write_text("# nothing\n\n  \n", encoding="utf-8")
    out_jsonl = tmp_path / "res" / "out.jsonl"
    out, _ = run_main(monkeypatch, capsys, "--scp", str(scp), "--out_jsonl", str(out_jsonl),
                      "--save_dir", str(tmp_path / "sep"), "--detector_ckpt", "/no/such.tar")
    assert out == ["[警告] CUDA 不可用，回退到 CPU", f"[scp] 共加载 0 条音频: {scp}", "scp 为空，退出", ""]
    assert not (tmp_path / "sep").exists() and not (tmp_path / "res").exists()


@pytest.mark.parametrize("setup", [
    # Bound in the detector module before the pipeline is loaded.
    "import multi_speaker_detector.resnet.resnet as resnet\nresnet.NoisyDetectorV2 = OneLayer\nimport triageflow\n",
    # Bound in both modules once they are loaded.
    "import multi_speaker_detector.resnet.resnet as resnet\nimport triageflow\n"
    "resnet.NoisyDetectorV2 = triageflow.NoisyDetectorV2 = OneLayer\n",
])
def test_a_replaced_detector_network_rates_every_entry(pipeline_models, tmp_path, setup):
    torch.manual_seed(7)
    network = OneLayer().eval()
    detector = save_detector_checkpoint(tmp_path / "one.tar", network.state_dict())
    # Long enough for the package's own network to go in stretches.
    audio = {"long": two_talkers(6.0, 0.6, seed=1), "short": two_talkers(1.0, 0.3, seed=2)}
    entries = []
    for name, signal in audio.items():
        sf.write(tmp_path / f"{name}.wav", signal, SR)
        entries.append((name, tmp_path / f"{name}.wav"))
    out_jsonl = tmp_path / "out.jsonl"
    main = ("from triage_fakes import OneLayer\n" + setup + "triageflow._DETECTOR_STRETCH_FRAMES = 240\n"
            "import sys\nsys.argv[0] = 'triageflow'\ntriageflow.main()\n")
    done = launch("-c", main, "--scp", str(write_scp(tmp_path, entries)), "--out_jsonl", str(out_jsonl),
                  "--save_dir", str(tmp_path / "sep"), "--detector_ckpt", detector, "--inference", pipeline_models["sep"],
                  "--device", "cpu", "--multi_spks_threshold", "1.5", extra_path=[TESTS], timeout=300)
    assert done.returncode == 0, done.stderr
    records = [json.loads(line) for line in result_lines(out_jsonl)]
    assert len(records) == len(entries)
    for (name, _), record in zip(entries, records):
        samples, _ = triageflow.load_audio_16k(str(tmp_path / f"{name}.wav"))
        with torch.no_grad():
            scores = torch.sigmoid(network(torch.from_numpy(samples)[None, None]))
        assert record == {"id": name, "wav_path": str(tmp_path / f"{name}.wav"),
                          "multi_spks_rate": float(scores[0, 1] / scores.sum()), "multi_spks": False}


def test_launcher(pipeline_models, inputs, tmp_path):
    done = launch("-m", "triageflow")
    assert done.returncode == 2 and done.stdout == ""
    assert "the following arguments are required: --scp, --out_jsonl, --save_dir" in done.stderr
    # The real detector network's checkpoint, end to end in a fresh process.
    ckpt = save_real_detector_checkpoint(tmp_path / "real.tar")
    scp = write_scp(tmp_path, [("u", inputs["single.wav"])])
    out_jsonl = tmp_path / "out.jsonl"
    done = launch("-m", "triageflow", "--scp", str(scp), "--out_jsonl", str(out_jsonl),
                  "--save_dir", str(tmp_path / "sep"), "--detector_ckpt", ckpt, "--inference", pipeline_models["sep"],
                  "--device", "cpu", "--multi_spks_threshold", "1.5")
    assert done.returncode == 0, done.stderr
    record = json.loads(result_lines(out_jsonl)[0], object_pairs_hook=pair_list)
    assert [k for k, _ in record] == ["id", "wav_path", "multi_spks_rate", "multi_spks"]
    assert 0.0 < record[2][1] < 1.0 and record[3][1] is False
    missing = launch("-m", "triageflow", "--scp", str(scp), "--out_jsonl", str(out_jsonl),
                     "--save_dir", str(tmp_path / "sep"), "--detector_ckpt", str(tmp_path / "none.tar"),
                     "--device", "cpu")
    assert missing.returncode == 1
    assert missing.stderr.rstrip("\n").split("\n")[-1] == (
        "FileNotFoundError: 多说话人检测模型权重不存在: " + str(tmp_path / "none.tar"))
    # A run that ends before the result file is opened leaves the earlier one as it was.
    assert len(result_lines(out_jsonl)) == 1


def test_names_that_are_not_utf8_and_stale_streams(pipeline_models, inputs, tmp_path):
    """A save folder, a result path, an id and a wav name that are not valid UTF-8 go through a whole run in a fresh
    process; an utterance folder that an earlier run left streams in holds only this run's streams after it."""
    ckpt = save_real_detector_checkpoint(tmp_path / "real.tar")
    base = os.fsencode(tmp_path)
    odd_wav = os.path.join(base, b"caf\xe9 \xff.wav")
    sf.write(odd_wav, two_talkers(3.0, 0.6, seed=90), SR)
    scp = tmp_path / "list.scp"
    scp.write_bytes(b"u\xff " + odd_wav + b"\nstale " + os.fsencode(inputs["two.wav"]) + b"\n")
    save = os.path.join(base, b"sep\xff")
    stale = os.path.join(save, b"stale")
    os.makedirs(stale)
    for name in (b"main_speaker_4.wav", b"other_speaker_7.wav", b"keep.txt"):
        open(os.path.join(stale, name), "wb").write(b"old")
    out_jsonl = os.path.join(base, b"res\xff", b"out.jsonl")
    done = launch("-m", "triageflow", "--scp", str(scp), "--out_jsonl", out_jsonl, "--save_dir", save,
                  "--detector_ckpt", ckpt, "--inference", pipeline_models["sep"], "--device", "cpu",
                  "--multi_spks_threshold", "0.0", env=BYTES_CONSOLE, text=False, timeout=300)
    assert done.returncode == 0, done.stderr.decode("utf-8", "replace")
    out = done.stdout.decode("utf-8", "surrogateescape").split("\n")
    assert out[-5:-3] == ["  多人(分离):  2", "  失败:        0"]
    assert out[-3:-1] == ["输出 jsonl:   " + os.fsdecode(out_jsonl), "分离结果目录: " + os.fsdecode(save)]

    # The result file is valid UTF-8; the names come back as their escapes and encode to the bytes on disk.
    lines = open(out_jsonl, "rb").read().decode("utf-8").splitlines()
    records = [json.loads(line) for line in lines]
    assert [(os.fsencode(r["id"]), os.fsencode(r["wav_path"])) for r in records] == [
        (b"u\xff", odd_wav), (b"stale", os.fsencode(inputs["two.wav"]))]
    for record, folder in zip(records, (os.path.join(save, b"u\xff"), stale)):
        paths = [os.fsencode(v) for k, v in record.items() if k.endswith("_wav_path")]
        assert paths and all(os.path.dirname(p) == folder and os.path.isfile(p) for p in paths)
        listed = {os.path.join(folder, n) for n in os.listdir(folder)}
        assert listed == set(paths) | {os.path.join(folder, b"log.txt")} | (
            {os.path.join(folder, b"keep.txt")} if folder == stale else set())
    removed = "[警告] 已删除输出目录中旧的说话人音频 2 个: " + os.fsdecode(stale)
    assert out.count(removed) == 1
    log = open(os.path.join(stale, b"log.txt"), "rb").read().decode("utf-8", "surrogateescape").split("\n")
    assert log[2] == removed
