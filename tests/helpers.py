"""What many test files share: fresh interpreters with the repository and the
stand-ins on their path; calls of a driver's command line with the console
checked, and stand-ins for the argparse module and the separation network
it uses; synthetic talkers; arrays laid out as no C++ loop can read them in
place; wav files written where no folder is yet; file systems filled up."""
import os
import subprocess
import sys
import textwrap
import types

import numpy as np
import pytest
import soundfile as sf

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TESTS = os.path.join(ROOT, "tests")
# Our own layers for outside packages that cannot be installed here.
STAND_INS = os.path.join(ROOT, "stand_ins")
SR = 16000


# ---------------------------------------------------------------- fresh interpreters

def interpreter_env(extra_path=(), **variables):
    """This process's environment with `extra_path`, the repository and the
    stand-ins as the module path, in that order, and `variables` set."""
    return dict(os.environ, PYTHONPATH=os.pathsep.join([*extra_path, ROOT, STAND_INS]), **variables)


# For `launch`'s `env`: a console that carries names which are not valid
# UTF-8 as their file-system bytes.
BYTES_CONSOLE = {"PYTHONIOENCODING": "utf-8:surrogateescape"}


def launch(*args, cwd=None, extra_path=(), env=None, timeout=120, text=True, **options):
    """Runs this interpreter with `args` and waits for it, its output captured.
    `env` adds variables to interpreter_env's; `options` go to subprocess.run."""
    return subprocess.run([sys.executable, *args], capture_output=True, text=text, cwd=cwd, timeout=timeout,
                          env=interpreter_env(extra_path, **(env or {})), **options)


def run_python(code, cwd, *argv, extra_path=(), timeout=120):
    """Runs `code` (dedented) in a fresh interpreter with `argv` after it."""
    return launch("-c", textwrap.dedent(code), *argv, cwd=cwd, extra_path=extra_path, timeout=timeout)


# Imports `package` with `blocked` refused, prints the import error, then
# whether each of `loaded` made it into sys.modules.
_BLOCKED_IMPORT = """
import sys
class Block:
    def find_spec(self, name, path=None, target=None):
        if name == {blocked!r}:
            raise ModuleNotFoundError("No module named " + repr(name), name=name)
sys.meta_path.insert(0, Block())
try:
    import {package}
except ImportError as error:
    print(type(error).__name__, error)
print(*[name in sys.modules for name in {loaded!r}])
"""


def import_with_blocked(package, blocked, loaded, cwd):
    return run_python(_BLOCKED_IMPORT.format(package=package, blocked=blocked, loaded=list(loaded)), cwd)


# ---------------------------------------------------------------- command lines

def parse_command_line(monkeypatch, module, *argv):
    """`module.parse_args()` with `argv` as the command line after the program name."""
    monkeypatch.setattr(sys, "argv", [module.__name__, *argv])
    return module.parse_args()


def parse_exit_code(monkeypatch, module, *argv):
    """The exit status with which parsing `argv` stops the program; parsing must stop it."""
    with pytest.raises(SystemExit) as stop:
        parse_command_line(monkeypatch, module, *argv)
    return stop.value.code


def recording_argparse(made):
    """A stand-in of the argparse module. Its parser logs its own settings,
    then each argument's as (flags, settings), into `made`; parsing gives a
    namespace of the defaults, kept as the parser's `parsed`. The last parser
    made is ArgumentParser.last."""
    class ArgumentParser:
        def __init__(self, **kwargs):
            made.append(kwargs)
            ArgumentParser.last = self

        def add_argument(self, *args, **kwargs):
            made.append((args, kwargs))

        def parse_args(self):
            self.parsed = types.SimpleNamespace(**{a[0][0].lstrip("-"): a[1].get("default") for a in made[1:]})
            return self.parsed

    return types.SimpleNamespace(ArgumentParser=ArgumentParser)


def call_main(monkeypatch, module, *argv):
    """`module.main()` with `argv` as the command line; whether it returns or
    raises, standard output must be the console again afterwards."""
    monkeypatch.setattr(sys, "argv", [module.__name__, *argv])
    console = sys.stdout
    try:
        return module.main()
    finally:
        assert sys.stdout is console


def leadvoice_summary(total, done, no_main=0, unreadable=0, not_finite=0, folder_taken=0, output_failed=0):
    """The last line of a leadvoice run."""
    return (f"[汇总] 任务总数={total}，完成={done}，无主通道={no_main}，无法读取={unreadable}，非有限值={not_finite}，"
            f"输出目录重名跳过={folder_taken}，输出失败={output_failed}")


def recording_network(events):
    """A separation network class, built without arguments, whose instances
    log into `events` being made, moved to a device and put in evaluation
    mode."""
    class Model:
        def __init__(self, *args, **kwargs):
            assert not args and not kwargs
            events.append(("model",))

        def to(self, device):
            events.append(("to", device))
            return self

        def eval(self):
            events.append(("eval",))
            return self

    return Model


# ---------------------------------------------------------------- signals and files

def harmonic_voice(seconds, low_hz, high_hz, seed, sr=SR):
    """A harmonic voice kept inside [low_hz, high_hz)."""
    rng = np.random.default_rng(seed)
    t = np.arange(int(round(seconds * sr))) / sr
    f0 = rng.uniform(low_hz, low_hz * 1.2)
    return sum(np.sin(2 * np.pi * f0 * k * t + rng.uniform(0, 6)) / k for k in range(1, 30) if f0 * k < high_hz)


def two_talkers(seconds, peak, sr=SR, seed=0):
    """Two voices in separate bands, the second entering half-way, scaled to `peak`."""
    low = harmonic_voice(seconds, 150, 1800, seed + 1, sr)
    high = harmonic_voice(seconds, 2600, 7000, seed + 2, sr)
    high[: len(high) // 2] = 0.0
    mix = low / np.abs(low).max() + 0.6 * high / np.abs(high).max()
    return peak * mix / np.abs(mix).max()


def unaligned_copy(x):
    """x's samples one byte past an aligned address."""
    raw = np.zeros(x.nbytes + 1, np.uint8)
    view = np.frombuffer(raw.data, x.dtype, len(x), 1)
    view.flags.writeable = True
    view[:] = x
    return view


def packed_field(x):
    """x's samples as a field of packed records one byte longer than a
    sample: a stride of no whole number of samples."""
    records = np.zeros(len(x), np.dtype([("s", x.dtype), ("tag", np.int8)], align=False))
    records["s"] = x
    return records["s"]


def write_wav(path, signal, rate, **options):
    """Writes `signal` with soundfile's `options`, making the missing folders
    above it; returns the path as text."""
    path = str(path)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    sf.write(path, signal, rate, **options)
    return path


# ---------------------------------------------------------------- full file systems

PAGE = 4096


def fill(folder, free_bytes):
    """Fills the file system of `folder` up, then frees `free_bytes`."""
    filler = os.path.join(folder, "filler")
    with open(filler, "wb", buffering=0) as f:
        try:
            while True:
                f.write(b"\0" * PAGE)
        except OSError:
            pass
    os.truncate(filler, os.path.getsize(filler) - free_bytes)
