"""Whole pipeline runs through real faults, each in a fresh interpreter so the
exit status is the one a user sees: errors of our own C++ code, a result
file on a file system that fills up, result paths over inputs, two runs on
one result file, utterance folders that cannot be made, a separation that
keeps nothing."""
import json
import os
import re
import resource
import shutil
import subprocess
import sys
import time

import numpy as np
import pytest
import soundfile as sf

import triageflow
from helpers import PAGE, SR, TESTS, call_main, fill, interpreter_env, launch, two_talkers
from triage_fakes import PeakDetector, write_scp

SETUP = "import triageflow\nfrom triage_fakes import PeakDetector\ntriageflow.NoisyDetectorV2 = PeakDetector\n"
MAIN = "import sys\nsys.argv[0] = 'triageflow'\ntriageflow.main()\n"


def command(*argv, setup=SETUP):
    return [sys.executable, "-c", setup + MAIN, *argv]


def environment():
    # The child imports the test doubles too.
    return interpreter_env([TESTS])


def run_pipeline(*argv, setup=SETUP, **options):
    return launch("-c", setup + MAIN, *argv, extra_path=[TESTS], timeout=300, **options)


def pipeline_args(tmp_path, models, scp, out_jsonl, *extra):
    return ["--scp", str(scp), "--out_jsonl", str(out_jsonl), "--save_dir", str(tmp_path / "sep"),
            "--detector_ckpt", models["detector"], "--inference", models["sep"], "--device", "cpu", *extra]


def records_of(path):
    text = open(path, encoding="utf-8").read()
    assert text == "" or text.endswith("\n")
    return [json.loads(line) for line in text.splitlines()]


def test_a_run_through_every_fault_goes_on(pipeline_models, tmp_path, small_tmpfs):
    src = tmp_path / "in"
    src.mkdir()
    sf.write(src / "single.wav", two_talkers(3.0, 0.2, seed=10), SR)
    sf.write(src / "two.wav", two_talkers(3.2, 0.6, seed=70), SR)
    click = np.zeros(3 * SR)
    click[SR] = 0.7  # loud enough to be judged multi-speaker, too short for any speech
    sf.write(src / "click.wav", click, SR)
    sep = tmp_path / "sep"
    for kind in ("main", "other"):
        for gid in range(4):
            (sep / "wav_is_folder" / f"{kind}_speaker_{gid}.wav").mkdir(parents=True)
    (sep / "blocked").write_text("a file where the folder goes")
    (sep / "log_is_folder" / "log.txt").mkdir(parents=True)
    two = str(src / "two.wav")
    entries = [("single", str(src / "single.wav")), ("ok", two), ("wav_is_folder", two),
               ("no_stream", str(src / "click.wav")), ("blocked", two), ("log_is_folder", two)]
    full = small_tmpfs("full")
    if full is not None:
        # The log fits, the streams do not.
        (full / "disk_full").mkdir()
        fill(full, 3 * PAGE)
        os.symlink(full / "disk_full", sep / "disk_full")
        entries.append(("disk_full", two))
    entries.append(("after", two))
    out_jsonl = tmp_path / "res" / "out.jsonl"
    done = run_pipeline(*pipeline_args(tmp_path, pipeline_models, write_scp(tmp_path, entries), out_jsonl,
                                 "--multi_spks_threshold", "0.5"))
    assert done.returncode == 0, done.stderr
    n = len(entries)
    assert done.stdout.endswith(f"总条数:        {n}\n  单人(跳过):  1\n  多人(分离):  2\n  失败:        {n - 3}\n"
                                f"输出 jsonl:   {out_jsonl}\n分离结果目录: {sep}\n")
    records = {r["id"]: r for r in records_of(out_jsonl)}
    assert list(records) == [i for i, _ in entries]
    assert records["single"]["multi_spks"] is False
    for utt_id in ("ok", "after"):
        assert os.path.isfile(records[utt_id]["main_spk_wav_path"]) and "error" not in records[utt_id]
    errors = {i: r.get("error") for i, r in records.items() if i not in ("single", "ok", "after")}
    assert re.fullmatch(re.escape(f"separation_failed: [Errno 21] Is a directory: '{sep}/wav_is_folder/") +
                        r"(main|other)_speaker_\d\.wav'", errors.pop("wav_is_folder"))
    assert errors.pop("no_stream") == "separation_failed: no speaker stream was kept"
    assert errors.pop("blocked") == f"utt_dir_failed: [Errno 17] File exists: '{sep}/blocked'"
    assert errors.pop("log_is_folder") == f"log_file_failed: [Errno 21] Is a directory: '{sep}/log_is_folder/log.txt'"
    if full is not None:
        disk_full = errors.pop("disk_full")
        assert disk_full.startswith("separation_failed: ") and "No space left on device" in disk_full, disk_full
        log = (sep / "disk_full" / "log.txt").read_text("utf-8")
        assert log.endswith("[错误] 分离失败: " + disk_full[len("separation_failed: "):] + "\n")
    assert errors == {}
    for utt_id, record in records.items():
        assert list(record)[:4] == ["id", "wav_path", "multi_spks_rate", "multi_spks"], utt_id
    # The C++ errors are printed as the interpreter prints an exception.
    assert "Unable to convert" not in done.stderr
    assert f"IsADirectoryError: [Errno 21] Is a directory: '{sep}/wav_is_folder/" in done.stderr


def test_an_error_raised_in_the_processor_fails_its_entry(monkeypatch, capsys, pipeline_models, tmp_path):
    # A zero hop that reaches the processor from a replaced option parser.
    real_parse = triageflow.parse_args

    def parse_args():
        args = real_parse()
        args.hop_duration = 0.0
        return args

    monkeypatch.setattr(triageflow, "NoisyDetectorV2", PeakDetector)
    monkeypatch.setattr(triageflow, "parse_args", parse_args)
    wav = str(tmp_path / "two.wav")
    sf.write(wav, two_talkers(3.2, 0.6, seed=70), SR)
    out_jsonl = tmp_path / "out.jsonl"
    call_main(monkeypatch, triageflow,
              *pipeline_args(tmp_path, pipeline_models, write_scp(tmp_path, [("a", wav), ("b", wav)]), out_jsonl))
    assert [r["error"] for r in records_of(out_jsonl)] == ["separation_failed: division by zero"] * 2
    captured = capsys.readouterr()
    assert captured.err == "ZeroDivisionError: division by zero\n" * 2
    assert "  失败:        2\n" in captured.out


LONG_ID = "x" * 1450


def long_entries(tmp_path, count):
    """Single-speaker entries whose result lines are about 1550 bytes each."""
    wav = tmp_path / "quiet.wav"
    sf.write(wav, two_talkers(1.0, 0.2, seed=5), SR)
    return [(f"u{k}{LONG_ID}", wav) for k in range(1, count + 1)]


def check_whole_lines_kept(tmp_path, done, out_jsonl, shown_path, error):
    assert done.returncode == 1
    assert done.stderr.rstrip("\n").split("\n")[-1] == f"OSError: [Errno {error}] {os.strerror(error)}: '{shown_path}'"
    assert "处理完成" not in done.stdout and f"========== [3/4] u3{LONG_ID} ==========" in done.stdout
    assert [r["id"] for r in records_of(out_jsonl)] == ["u1" + LONG_ID, "u2" + LONG_ID]


def namespace_prefix():
    """How to run a command in a mount namespace of its own, or None."""
    prefix = ["unshare", "-m"] if os.geteuid() == 0 else ["unshare", "-rm"]
    if shutil.which("unshare") is None:
        return None
    probe = subprocess.run(prefix + ["sh", "-c", "mount -t tmpfs -o size=64k tmpfs /mnt"], capture_output=True)
    return prefix if probe.returncode == 0 else None


def test_a_full_file_system_keeps_whole_lines(pipeline_models, tmp_path):
    prefix = namespace_prefix()
    if prefix is None:
        pytest.skip("no mount namespace with a tmpfs can be made here")
    mnt = tmp_path / "mnt"
    mnt.mkdir()
    keep = tmp_path / "kept.jsonl"
    scp = write_scp(tmp_path, long_entries(tmp_path, 4))
    script = ('mount -t tmpfs -o size=64k tmpfs "$0" && { cat /dev/zero > "$0/filler"; '
              'truncate -s -4096 "$0/filler" && "$@"; rc=$?; cp "$0/out.jsonl" "$KEEP"; exit $rc; }')
    cmd = command(*pipeline_args(tmp_path, pipeline_models, scp, mnt / "out.jsonl", "--multi_spks_threshold", "1.5"))
    done = subprocess.run(prefix + ["sh", "-c", script, str(mnt)] + cmd, capture_output=True, text=True,
                          env=dict(environment(), KEEP=str(keep)), timeout=300)
    check_whole_lines_kept(tmp_path, done, keep, mnt / "out.jsonl", 28)


def test_a_file_size_limit_keeps_whole_lines(pipeline_models, tmp_path):
    # The kernel cuts the third line short, then refuses the rest of it.
    def limit():
        resource.setrlimit(resource.RLIMIT_FSIZE, (3500, 3500))

    out_jsonl = tmp_path / "out.jsonl"
    scp = write_scp(tmp_path, long_entries(tmp_path, 4))
    done = run_pipeline(*pipeline_args(tmp_path, pipeline_models, scp, out_jsonl, "--multi_spks_threshold", "1.5"),
                  preexec_fn=limit)
    check_whole_lines_kept(tmp_path, done, out_jsonl, out_jsonl, 27)
    assert os.path.getsize(out_jsonl) < 3500


@pytest.mark.parametrize("target, option, what", [
    ("detector", "detector_ckpt", "多说话人检测模型权重"),
    ("sep", "inference", "CSS 分离模型权重"),
])
@pytest.mark.parametrize("spelling", ["same", "symlink", "hardlink"])
def test_a_result_path_over_a_checkpoint_is_refused(pipeline_models, tmp_path, target, option, what, spelling):
    ckpt = tmp_path / "ckpt"
    shutil.copy(pipeline_models[target], ckpt)
    before = ckpt.read_bytes()
    out_jsonl = {"same": ckpt, "symlink": tmp_path / "link.jsonl", "hardlink": tmp_path / "hard.jsonl"}[spelling]
    if spelling == "symlink":
        os.symlink(ckpt, out_jsonl)
    elif spelling == "hardlink":
        os.link(ckpt, out_jsonl)
    wav = tmp_path / "a.wav"
    sf.write(wav, two_talkers(2.0, 0.2, seed=1), SR)
    argv = pipeline_args(tmp_path, dict(pipeline_models, **{target: str(ckpt)}), write_scp(tmp_path, [("a", wav)]),
                         out_jsonl)
    done = run_pipeline(*argv)
    assert done.returncode == 1
    assert done.stderr.rstrip("\n").split("\n")[-1] == (
        f"ValueError: --out_jsonl 与 --{option} 是同一个文件，写结果会清空{what}: {out_jsonl} ({option}: {ckpt})")
    assert ckpt.read_bytes() == before
    assert not (tmp_path / "sep").exists() and "[阶段1]" not in done.stdout


def test_a_result_path_over_a_listed_wav_is_refused(pipeline_models, tmp_path):
    wav = tmp_path / "b.wav"
    sf.write(wav, two_talkers(2.0, 0.2, seed=1), SR)
    before = wav.read_bytes()
    scp = write_scp(tmp_path, [("a", tmp_path / "missing.wav"), ("b", wav)])
    spelled = f"{tmp_path}/./b.wav"
    done = run_pipeline(*pipeline_args(tmp_path, pipeline_models, scp, spelled))
    assert done.returncode == 1
    assert done.stderr.rstrip("\n").split("\n")[-1] == (
        f"ValueError: --out_jsonl 与 scp 第 2 条 (b) 的 wav 是同一个文件，写结果会清空该音频: {spelled} (wav: {wav})")
    assert wav.read_bytes() == before and not (tmp_path / "sep").exists()


def test_a_second_run_on_the_result_file_stops_at_start(pipeline_models, tmp_path):
    a, b = tmp_path / "a.wav", tmp_path / "b.wav"
    for path in (a, b):
        sf.write(path, two_talkers(2.0, 0.2, seed=1), SR)
    ready, release = tmp_path / "ready", tmp_path / "release"
    # The first run holds still in its second entry, its first line written.
    hold = SETUP + f"""
import os, time
real_load = triageflow.load_audio_16k
def load(path):
    if path == {str(b)!r}:
        open({str(ready)!r}, "w").close()
        while not os.path.exists({str(release)!r}):
            time.sleep(0.05)
    return real_load(path)
triageflow.load_audio_16k = load
"""
    scp = write_scp(tmp_path, [("a", a), ("b", b)])
    out_jsonl = tmp_path / "out.jsonl"
    first = subprocess.Popen(command(*pipeline_args(tmp_path, pipeline_models, scp, out_jsonl), setup=hold),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=environment())
    try:
        deadline = time.monotonic() + 120
        while not ready.exists():
            assert first.poll() is None and time.monotonic() < deadline, first.communicate()
            time.sleep(0.05)
        held = out_jsonl.read_bytes()
        assert held.count(b"\n") == 1
        spelled = f"{tmp_path}/./out.jsonl"
        second = run_pipeline(*pipeline_args(tmp_path, pipeline_models, scp, spelled))
        assert second.returncode == 1
        assert second.stderr.rstrip("\n").split("\n")[-1] == (
            f"OSError: --out_jsonl 正被另一个运行写入（文件已加锁），本次运行不改动它并退出: {spelled}")
        assert "[阶段1]" not in second.stdout
        assert out_jsonl.read_bytes() == held
    finally:
        release.touch()
        out, err = first.communicate(timeout=120)
    assert first.returncode == 0, err
    assert [r["id"] for r in records_of(out_jsonl)] == ["a", "b"]
