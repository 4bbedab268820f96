"""Whole pipeline runs through real faults, each in a fresh interpreter so the
exit status is the one a user sees: errors of our own C++ code, a result
file or a save folder on a file system that fills up, a log that fails on
the separation handler's own line, result paths over inputs or over an
utterance folder's files, two runs on one result file, utterance folders
that cannot be made, a separation that keeps nothing."""
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


def pages(n_bytes):
    return -(-n_bytes // PAGE) * PAGE


@pytest.mark.parametrize("free", ["fills_during_the_run", "full_from_the_start"])
def test_a_save_folder_that_fills_up_fails_only_the_entries_it_cannot_hold(pipeline_models, tmp_path, small_tmpfs,
                                                                            free):
    # Each entry keeps a log and two streams. Room for the first entry, the
    # second's log and main stream, and one page more: the second entry's
    # other stream, then the third's streams do not fit, and later logs find
    # the disk full. The result file and the inputs lie on another disk.
    seconds = 6.0
    samples = int(seconds * SR)
    stream = pages(44 + 2 * samples)
    sep = small_tmpfs("sep", size=3 * PAGE + 3 * stream + PAGE)
    if sep is None:
        pytest.skip("no tmpfs can be mounted here")
    if free == "full_from_the_start":
        fill(sep, 0)
    wav = tmp_path / "two.wav"
    sf.write(wav, two_talkers(seconds, 0.6, seed=70), SR)
    ids = [f"u{k}" for k in range(1, 7)]
    out_jsonl = tmp_path / "res" / "out.jsonl"
    argv = pipeline_args(tmp_path, pipeline_models, write_scp(tmp_path, [(i, wav) for i in ids]), out_jsonl,
                         "--multi_spks_threshold", "0.5")
    argv[argv.index("--save_dir") + 1] = str(sep)
    done = run_pipeline(*argv)
    assert done.returncode == 0, done.stderr

    records = records_of(out_jsonl)
    assert [r["id"] for r in records] == ids
    separated = [r["id"] for r in records if "error" not in r]
    assert separated == (["u1"] if free == "fills_during_the_run" else [])
    failed = [r for r in records if "error" in r]
    for record in failed:
        assert record["error"].startswith("separation_failed: ") and "No space left on device" in record["error"]
    # Later entries fail on their log: the line names it, and the console
    # still shows the handler's line.
    log_error = f"[Errno 28] No space left on device: '{sep}/u6/log.txt'"
    assert failed[-1]["error"] == "separation_failed: " + log_error
    assert f"[错误] 分离失败: {log_error}\n" in done.stdout
    if free == "fills_during_the_run":
        assert "other_speaker_1.wav" in failed[0]["error"]
        assert (sep / "u2" / "log.txt").read_text("utf-8").endswith(
            "[错误] 分离失败: " + failed[0]["error"][len("separation_failed: "):] + "\n")
    assert done.stdout.endswith(f"总条数:        6\n  单人(跳过):  0\n  多人(分离):  {len(separated)}\n"
                                f"  失败:        {len(failed)}\n输出 jsonl:   {out_jsonl}\n分离结果目录: {sep}\n")

    # Every stream under a result name is whole, and no temporary is left.
    streams = []
    for folder, _, names in os.walk(sep):
        assert not [n for n in names if n.startswith(".")], folder
        streams += [os.path.join(folder, n) for n in names if n.endswith(".wav")]
    assert all(sf.info(path).frames == samples for path in streams), streams
    for record in records:
        assert all(os.path.isfile(v) for k, v in record.items() if k.endswith("_wav_path"))


def test_a_log_that_first_fails_on_the_handlers_line_ends_nothing(pipeline_models, tmp_path):
    # Under a file size limit the speaker embedding's temporary wav fails
    # first; a limit of exactly the log's length up to that failure then
    # refuses the handler's own line, and nothing before it. The long save
    # folder keeps the log longer than the result file.
    sep = tmp_path / ("d" * 200) / ("e" * 200) / ("f" * 200)
    wav = tmp_path / "two.wav"
    sf.write(wav, two_talkers(6.0, 0.6, seed=70), SR)
    argv = pipeline_args(tmp_path, pipeline_models, write_scp(tmp_path, [("u1", wav), ("u2", wav)]),
                         tmp_path / "out.jsonl", "--multi_spks_threshold", "0.5")
    argv[argv.index("--save_dir") + 1] = str(sep)

    def limited(size):
        return run_pipeline(*argv, preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_FSIZE, (size, size)))

    first = limited(20000)
    assert first.returncode == 0, first.stderr
    error = records_of(tmp_path / "out.jsonl")[0]["error"][len("separation_failed: "):]
    log = (sep / "u1" / "log.txt").read_bytes()
    handler_line = f"[错误] 分离失败: {error}\n".encode("utf-8")
    assert "File too large" in error and log.endswith(handler_line)
    before = log[:-len(handler_line)]

    done = limited(len(before))
    assert done.returncode == 0, done.stderr
    records = records_of(tmp_path / "out.jsonl")
    assert [r["id"] for r in records] == ["u1", "u2"]
    assert all("File too large" in r["error"] for r in records)
    assert (sep / "u1" / "log.txt").read_bytes() == before
    assert done.stdout.count("[错误] 分离失败: ") == 2 and "  失败:        2\n" in done.stdout


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


@pytest.mark.parametrize("out_jsonl, output", [
    ("sep/b/log.txt", "sep/b/log.txt"),
    ("./sep//b/main_speaker_0.wav", "sep/b/main_speaker_0.wav"),
    ("link/other_speaker_1.wav", "sep/b/other_speaker_1.wav"),
])
def test_a_result_path_over_an_utterance_folders_file_is_refused(pipeline_models, tmp_path, out_jsonl, output):
    # b's folder as an earlier run left it, with an earlier result in the log.
    sep = tmp_path / "sep"
    (sep / "b").mkdir(parents=True)
    (sep / "b" / "log.txt").write_text('{"id": "a"}\n', encoding="utf-8")
    for name in ("main_speaker_0.wav", "other_speaker_1.wav"):
        sf.write(sep / "b" / name, two_talkers(1.0, 0.3, seed=2), SR)
    os.symlink(sep / "b", tmp_path / "link")
    wavs = [tmp_path / "a.wav", tmp_path / "b.wav"]
    for wav in wavs:
        sf.write(wav, two_talkers(2.0, 0.6, seed=1), SR)
    scp = write_scp(tmp_path, [("a", wavs[0]), ("b", wavs[1])])
    inputs = [scp, *wavs, pipeline_models["detector"], pipeline_models["sep"]]
    kept = {path: open(path, "rb").read() for path in inputs + list((sep / "b").iterdir())}
    argv = ["--scp", "list.scp", "--out_jsonl", out_jsonl, "--save_dir", "sep", "--detector_ckpt",
            pipeline_models["detector"], "--inference", pipeline_models["sep"], "--device", "cpu"]
    done = run_pipeline(*argv, cwd=tmp_path)
    assert done.returncode == 1
    assert done.stderr.rstrip("\n").split("\n")[-1] == (
        f"ValueError: --out_jsonl 是 scp 第 2 条 (b) 在 --save_dir 下的输出文件，运行会覆盖或删除它，结果会丢失: "
        f"{out_jsonl} ({output})")
    assert "[阶段1]" not in done.stdout
    assert {path: open(path, "rb").read() for path in kept} == kept
    assert sorted(os.listdir(sep)) == ["b"] and len(os.listdir(sep / "b")) == 3


@pytest.mark.parametrize("save_dir, out_jsonl, output", [
    # Through a linked save folder, either way round, before b's folder exists.
    ("S", "SL/a/log.txt", "S/a/log.txt"),
    ("S", "SL/b/main_speaker_0.wav", "S/b/main_speaker_0.wav"),
    ("SL", "S/b/other_speaker_3.wav", "SL/b/other_speaker_3.wav"),
    # Before the save folder itself exists, through a linked parent.
    ("new/S", "PL/new/S/a/log.txt", "new/S/a/log.txt"),
    # A link that leads to nothing yet: writing it makes the file it names.
    ("S", "dangling.jsonl", "S/a/log.txt"),
    # A stream's hidden temporary, swept away by the stream's next write.
    ("S", "SL/b/.main_speaker_0.wav.Ab3dEf", "S/b/.main_speaker_0.wav.Ab3dEf"),
    # A bind mount of the save folder.
    ("S", "B/a/log.txt", "S/a/log.txt"),
])
def test_a_result_path_that_is_an_output_under_another_spelling_is_refused(pipeline_models, tmp_path, bind_mount,
                                                                          save_dir, out_jsonl, output):
    (tmp_path / "S").mkdir()
    os.symlink("S", tmp_path / "SL")
    os.symlink(".", tmp_path / "PL")
    os.symlink("S/a/log.txt", tmp_path / "dangling.jsonl")
    if out_jsonl.startswith("B/") and bind_mount(tmp_path / "S", tmp_path / "B") is None:
        pytest.skip("binding a folder needs root")
    wavs = [tmp_path / "a.wav", tmp_path / "b.wav"]
    for wav in wavs:
        sf.write(wav, two_talkers(2.0, 0.6, seed=1), SR)
    scp = write_scp(tmp_path, [("a", wavs[0]), ("b", wavs[1])])
    inputs = [scp, *wavs, pipeline_models["detector"], pipeline_models["sep"]]
    kept = {path: open(path, "rb").read() for path in inputs}
    listing = sorted(os.listdir(tmp_path))
    argv = ["--scp", "list.scp", "--out_jsonl", out_jsonl, "--save_dir", save_dir, "--detector_ckpt",
            pipeline_models["detector"], "--inference", pipeline_models["sep"], "--device", "cpu"]
    done = run_pipeline(*argv, cwd=tmp_path)
    assert done.returncode == 1, done.stdout
    entry = 1 if "/a/" in output else 2
    assert done.stderr.rstrip("\n").split("\n")[-1] == (
        f"ValueError: --out_jsonl 是 scp 第 {entry} 条 ({'ab'[entry - 1]}) 在 --save_dir 下的输出文件，"
        f"运行会覆盖或删除它，结果会丢失: {out_jsonl} ({output})")
    assert "[阶段1]" not in done.stdout
    assert {path: open(path, "rb").read() for path in kept} == kept
    assert sorted(os.listdir(tmp_path)) == listing and os.listdir(tmp_path / "S") == []


@pytest.mark.parametrize("wav, owner", [
    ("sep/b/main_speaker_0.wav", "b"),  # a stream an earlier run left, cleared before b's are written
    ("SL/a/other_speaker_1.wav", "a"),  # the entry's own folder, through a linked save folder
])
def test_a_listed_wav_that_an_entrys_folder_would_overwrite_is_refused(pipeline_models, tmp_path, wav, owner):
    sep = tmp_path / "sep"
    for folder in ("a", "b"):
        (sep / folder).mkdir(parents=True)
        sf.write(sep / folder / "main_speaker_0.wav", two_talkers(2.0, 0.6, seed=1), SR)
        sf.write(sep / folder / "other_speaker_1.wav", two_talkers(2.0, 0.6, seed=2), SR)
    os.symlink("sep", tmp_path / "SL")
    scp = write_scp(tmp_path, [("a", tmp_path / wav), ("b", sep / "a" / "main_speaker_0.wav")])
    kept = {path: path.read_bytes() for path in sep.glob("*/*")}
    done = run_pipeline(*pipeline_args(tmp_path, pipeline_models, scp, tmp_path / "result.jsonl"))
    assert done.returncode == 1, done.stdout
    output = sep / owner / os.path.basename(wav)
    assert done.stderr.rstrip("\n").split("\n")[-1] == (
        f"ValueError: scp 第 1 条 (a) 的 wav 是 scp 第 {'ab'.index(owner) + 1} 条 ({owner}) 在 --save_dir 下的输出文件，"
        f"运行会覆盖或删除它: {tmp_path / wav} ({output})")
    assert "[阶段1]" not in done.stdout and not (tmp_path / "result.jsonl").exists()
    assert {path: path.read_bytes() for path in sep.glob("*/*")} == kept


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
