import os
import sys

import pytest

import leadvoice


class RecordingStream:
    """A console stand-in that records every call in order."""

    def __init__(self, fail_write=False):
        self.calls = []
        self.fail_write = fail_write

    def write(self, message):
        self.calls.append(("write", message))
        if self.fail_write:
            raise OSError("console gone")

    def flush(self):
        self.calls.append(("flush",))


def install_console(monkeypatch, **kwargs):
    # In the test body: pytest re-installs its own capture between set-up and call.
    stream = RecordingStream(**kwargs)
    monkeypatch.setattr(sys, "stdout", stream)
    return stream


@pytest.mark.parametrize("args", [(), (None,), ("",)], ids=["no-arg", "none", "empty"])
def test_console_only_logger_touches_no_file(tmp_path, monkeypatch, args):
    console = install_console(monkeypatch)
    monkeypatch.chdir(tmp_path)
    logger = leadvoice.Logger(*args)
    logger.write("hello\n")
    logger.flush()
    logger.close()
    assert logger.terminal is console
    assert logger.log_file is None
    assert console.calls == [("write", "hello\n"), ("flush",)]
    assert os.listdir(tmp_path) == []


def test_bare_file_name_goes_to_working_directory(tmp_path, monkeypatch):
    install_console(monkeypatch)
    monkeypatch.chdir(tmp_path)
    made = []
    monkeypatch.setattr(leadvoice, "ensure_dir", lambda path: made.append(path))
    logger = leadvoice.Logger(log_path="log.txt")
    logger.write("x")
    logger.close()
    assert made == [""]
    assert os.listdir(tmp_path) == ["log.txt"]


def test_missing_directory_levels_are_created(tmp_path, monkeypatch):
    install_console(monkeypatch)
    path = tmp_path / "a" / "b" / "c" / "run.log"
    logger = leadvoice.Logger(str(path))
    logger.close()
    assert path.is_file()


def test_existing_log_is_emptied_on_construction(tmp_path, monkeypatch):
    install_console(monkeypatch)
    path = tmp_path / "log.txt"
    path.write_text("old content")
    logger = leadvoice.Logger(str(path))
    assert path.read_text() == ""
    logger.close()


def test_writes_reach_console_and_log_unchanged_and_flushed(tmp_path, monkeypatch):
    console = install_console(monkeypatch)
    path = tmp_path / "log.txt"
    logger = leadvoice.Logger(str(path))
    for message in ["说话人", "", "0\n", "end"]:
        logger.write(message)
    # Flushed after every write: readable while the logger is still open.
    assert path.read_bytes() == "说话人0\nend".encode("utf-8")
    assert console.calls == [("write", "说话人"), ("write", ""), ("write", "0\n"), ("write", "end")]
    logger.close()


def test_print_through_logger_installed_as_stdout(tmp_path, monkeypatch):
    console = install_console(monkeypatch)
    path = tmp_path / "log.txt"
    logger = leadvoice.Logger(str(path))
    sys.stdout = logger
    try:
        print("一行", 2)
    finally:
        sys.stdout = logger.terminal
    logger.close()
    assert path.read_text(encoding="utf-8") == "一行 2\n"
    assert "".join(c[1] for c in console.calls if c[0] == "write") == "一行 2\n"


def test_nested_logger_writes_to_both_logs(tmp_path, monkeypatch):
    console = install_console(monkeypatch)
    outer = leadvoice.Logger(str(tmp_path / "outer.txt"))
    sys.stdout = outer
    try:
        inner = leadvoice.Logger(str(tmp_path / "inner.txt"))
    finally:
        sys.stdout = console
    assert inner.terminal is outer
    inner.write("m")
    inner.close()
    outer.close()
    assert (tmp_path / "outer.txt").read_text() == "m"
    assert (tmp_path / "inner.txt").read_text() == "m"
    assert console.calls == [("write", "m")]


def test_console_failure_leaves_log_untouched(tmp_path, monkeypatch):
    install_console(monkeypatch, fail_write=True)
    logger = leadvoice.Logger(str(tmp_path / "log.txt"))
    with pytest.raises(OSError, match="console gone"):
        logger.write("x")
    logger.close()
    assert (tmp_path / "log.txt").read_text() == ""


def test_close_twice_then_write_serves_console_then_fails(tmp_path, monkeypatch):
    console = install_console(monkeypatch)
    logger = leadvoice.Logger(str(tmp_path / "log.txt"))
    logger.close()
    logger.close()
    assert logger.log_file is not None and logger.log_file.closed
    with pytest.raises(ValueError, match="closed file"):
        logger.write("late")
    with pytest.raises(ValueError, match="closed file"):
        logger.flush()
    assert console.calls == [("write", "late"), ("flush",)]


@pytest.mark.parametrize("blocker", ["file-in-path", "path-is-dir"])
def test_unusable_log_path_raises(tmp_path, monkeypatch, blocker):
    install_console(monkeypatch)
    if blocker == "file-in-path":
        (tmp_path / "f").write_text("")
        path, error = tmp_path / "f" / "log.txt", OSError
    else:
        (tmp_path / "d").mkdir()
        path, error = tmp_path / "d", IsADirectoryError
    with pytest.raises(error):
        leadvoice.Logger(str(path))


def test_class_surface():
    assert leadvoice.Logger.__doc__ == "同时输出到控制台和文件的日志记录器"
    assert leadvoice.Logger.__bases__ == (object,)
    for name in ("write", "flush", "close"):
        assert not getattr(leadvoice.Logger, name).__doc__


def test_a_log_file_that_cannot_be_written_is_given_up(monkeypatch):
    # /dev/full takes the open and refuses every write that reaches it.
    console = install_console(monkeypatch)
    logger = leadvoice.Logger("/dev/full")
    with pytest.raises(OSError) as error:
        logger.write("一行\n")
    assert str(error.value) == "[Errno 28] No space left on device: '/dev/full'"
    # From then on the console alone, without an error.
    logger.write("[错误] 分离失败\n")
    logger.flush()
    logger.close()
    assert logger.log_file is None
    assert console.calls == [("write", "一行\n"), ("write", "[错误] 分离失败\n"), ("flush",)]
