import io
import json
import os
import sys

import pytest

import leadvoice

WARN = "[警告] jsonl第"


def summary(total, accepted, no_field, below, invalid, missing, threshold="0.5"):
    return (f"[jsonl] 总行数={total}，待处理(multi_spks_rate>{threshold})={accepted}，无该字段跳过={no_field}"
            f"，未超阈值跳过={below}，解析失败={invalid}，wav缺失={missing}")


@pytest.fixture
def wav(tmp_path):
    path = tmp_path / "a.wav"
    path.write_bytes(b"RIFF")
    return str(path)


def scan(tmp_path, capsys, text, **kwargs):
    path = tmp_path / "tasks.jsonl"
    path.write_bytes(text.encode("utf-8") if isinstance(text, str) else text)
    tasks = leadvoice.collect_tasks_from_jsonl(str(path), **kwargs)
    return tasks, capsys.readouterr().out.splitlines()


def line(rate, wav_path, **extra):
    return json.dumps({"multi_spks_rate": rate, "prompt_wav": wav_path, **extra}, ensure_ascii=False)


def test_mixed_list_buckets_every_line_and_keeps_file_order(tmp_path, capsys, wav):
    text = "\n".join([
        "",                                   # 1 blank: not counted
        "{broken",                            # 2 parse failure
        line(0.8, wav, spk="x"),              # 3 task
        json.dumps({"prompt_wav": wav}),      # 4 no field
        line(0.5, wav),                       # 5 equal to threshold
        line(None, wav),                      # 6 not numeric
        line("0.8", ""),                      # 7 empty wav
        line(True, wav + ".gone"),            # 8 missing file
        "  \u3000 ",                          # 9 full-width blank
        line(" 0.9 ", wav),                   # 10 task, text rate
    ]) + "\n"
    tasks, out = scan(tmp_path, capsys, text)
    assert [t["line_no"] for t in tasks] == [3, 10]
    assert tasks[0] == {"wav_path": wav, "raw": {"multi_spks_rate": 0.8, "prompt_wav": wav, "spk": "x"},
                        "line_no": 3}
    assert list(tasks[0]) == ["wav_path", "raw", "line_no"]
    assert out == [
        WARN + "2行解析失败，跳过: Expecting property name enclosed in double quotes: line 1 column 2 (char 1)",
        WARN + "6行 multi_spks_rate 非数值(None)，跳过",
        WARN + "7行缺少prompt_wav字段，跳过",
        WARN + "8行 prompt_wav 文件不存在: " + wav + ".gone，跳过",
        summary(8, 2, 1, 1, 2, 2),
    ]


@pytest.mark.parametrize("text", ["", "\n\n  \n", "\r\n\r"], ids=["empty", "blank", "crlf"])
def test_blank_lists_give_nothing(tmp_path, capsys, text):
    tasks, out = scan(tmp_path, capsys, text)
    assert tasks == [] and out == [summary(0, 0, 0, 0, 0, 0)]


@pytest.mark.parametrize("rate, accepted", [
    (0.50000001, True), (0.5, False), ("0.8", True), (True, True), (False, False),
    ("nan", None), (float("nan"), None), ("inf", None), (1e999, None), (10 ** 400, None),
    ([0.9], None), ({"v": 1}, None), ("abc", None),
])
def test_rate_forms(tmp_path, capsys, wav, rate, accepted):
    text = json.dumps({"multi_spks_rate": rate, "prompt_wav": wav})
    tasks, out = scan(tmp_path, capsys, text)
    if accepted is None:
        assert out == [WARN + f"1行 multi_spks_rate 非数值({rate!r})，跳过", summary(1, 0, 0, 0, 1, 0)]
    else:
        assert len(tasks) == int(accepted)
        assert out == [summary(1, int(accepted), 0, int(not accepted), 0, 0)]


@pytest.mark.parametrize("value, bucket", [
    ([1, 2], "not-object"), ('"multi_spks_rate"', "not-object"), ("3", "not-object"), ("null", "not-object"),
    ("[" * 100000 + "]" * 100000, "parse"), ("1" * 5000, "parse"),
])
def test_valid_json_that_is_no_object_never_ends_the_scan(tmp_path, capsys, wav, value, bucket):
    first = value if isinstance(value, str) else json.dumps(value)
    tasks, out = scan(tmp_path, capsys, first + "\n" + line(0.9, wav) + "\n")
    assert [t["line_no"] for t in tasks] == [2]
    if bucket == "not-object":
        assert out[0] == WARN + "1行不是JSON对象，跳过"
    else:
        assert out[0].startswith(WARN + "1行解析失败，跳过: ")
    assert out[1:] == [summary(2, 1, 0, 0, 1, 0)]


@pytest.mark.parametrize("wav_value, message, bucket", [
    (None, "缺少prompt_wav字段", "missing"), (0, "缺少prompt_wav字段", "missing"),
    ([], "缺少prompt_wav字段", "missing"), (3, " prompt_wav 不是文本(3)", "invalid"),
    (["a.wav"], " prompt_wav 不是文本(['a.wav'])", "invalid"), ({"p": 1}, " prompt_wav 不是文本({'p': 1})", "invalid"),
])
def test_prompt_wav_forms(tmp_path, capsys, wav_value, message, bucket):
    tasks, out = scan(tmp_path, capsys, line(0.9, wav_value))
    assert tasks == []
    assert out == [WARN + "1行" + message + "，跳过",
                   summary(1, 0, 0, 0, int(bucket == "invalid"), int(bucket == "missing"))]


def test_absent_prompt_wav_and_directory_wav(tmp_path, capsys):
    text = json.dumps({"multi_spks_rate": 0.9}) + "\n" + line(0.9, str(tmp_path))
    tasks, out = scan(tmp_path, capsys, text)
    assert out == [WARN + "1行缺少prompt_wav字段，跳过",
                   WARN + f"2行 prompt_wav 文件不存在: {tmp_path}，跳过", summary(2, 0, 0, 0, 0, 2)]


def test_relative_wav_kept_as_written_and_duplicates_kept(tmp_path, capsys, monkeypatch, wav):
    monkeypatch.chdir(tmp_path)
    tasks, _ = scan(tmp_path, capsys, line(0.9, "a.wav") + "\n" + line(0.9, "./a.wav"))
    assert [(t["wav_path"], t["line_no"]) for t in tasks] == [("a.wav", 1), ("./a.wav", 2)]


def test_thresholds_print_as_interpreter_reals(tmp_path, capsys, wav):
    _, out = scan(tmp_path, capsys, line(0.95, wav), multi_spks_rate_threshold=1.0)
    assert out == [summary(1, 0, 0, 1, 0, 0, threshold="1.0")]
    _, out = scan(tmp_path, capsys, line(0.95, wav), multi_spks_rate_threshold=1e-05)
    assert out == [summary(1, 1, 0, 0, 0, 0, threshold="1e-05")]
    _, out = scan(tmp_path, capsys, line(0.95, wav), multi_spks_rate_threshold=float("nan"))
    assert out == [summary(1, 0, 0, 1, 0, 0, threshold="nan")]


def test_byte_order_mark_breaks_the_first_line(tmp_path, capsys, wav):
    tasks, out = scan(tmp_path, capsys, b"\xef\xbb\xbf\n" + line(0.9, wav).encode())
    assert len(tasks) == 1
    assert out[0].startswith(WARN + "1行解析失败，跳过: ")
    assert out[1] == summary(2, 1, 0, 0, 1, 0)


def test_missing_list(tmp_path):
    for path in (tmp_path / "none.jsonl", tmp_path):
        with pytest.raises(FileNotFoundError, match="^jsonl file not found: " + str(path) + "$"):
            leadvoice.collect_tasks_from_jsonl(str(path))


# Bytes that are not UTF-8 are a path's file-system bytes: raw in the list or as
# the escapes json.dumps writes, they name the file; elsewhere they break only
# their own line.
def test_bytes_that_are_not_utf8(tmp_path, monkeypatch):
    named = os.path.join(os.fsencode(tmp_path), b"caf\xe9.wav")
    open(named, "wb").write(b"RIFF")
    gone = os.fsdecode(os.path.join(os.fsencode(tmp_path), b"gone\xff.wav"))
    raw = line(0.9, os.fsdecode(named)).encode("utf-8", "surrogateescape")
    escaped = json.dumps({"multi_spks_rate": 0.9, "prompt_wav": os.fsdecode(named)}).encode()
    listed = tmp_path / "tasks.jsonl"
    listed.write_bytes(b"\n".join([raw, b"\xff\xfe", escaped, line(0.9, gone).encode("utf-8", "surrogateescape")]))
    console = io.StringIO()
    monkeypatch.setattr(sys, "stdout", console)
    tasks = leadvoice.collect_tasks_from_jsonl(str(listed))
    assert [os.fsencode(t["wav_path"]) for t in tasks] == [named, named]
    assert [t["line_no"] for t in tasks] == [1, 3]
    assert console.getvalue().split("\n") == [
        WARN + "2行解析失败，跳过: Expecting value: line 1 column 1 (char 0)",
        WARN + "4行 prompt_wav 文件不存在: " + gone + "，跳过",
        summary(4, 2, 0, 0, 1, 1), ""]


def test_docstring_opening():
    assert leadvoice.collect_tasks_from_jsonl.__doc__.startswith("从jsonl文件解析需要进行主通道筛选的任务列表。")
