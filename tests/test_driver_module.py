"""Loading leadvoice: dependencies in a fixed order and unguarded, nothing
printed, loaded or written."""
import os

import pytest

import leadvoice
from helpers import ROOT, import_with_blocked, run_python

DEPENDENCY_ORDER = ["argparse", "os", "math", "sys", "json", "tempfile", "torch", "sf", "Dict", "List", "Optional",
                    "Tuple", "np", "linear_sum_assignment", "unmixer_core", "wespeaker", "load_silero_vad",
                    "get_speech_timestamps", "_SILERO_VAD_MODEL"]


def test_bindings_in_import_order():
    names = [n for n in vars(leadvoice) if n in DEPENDENCY_ORDER]
    assert names == DEPENDENCY_ORDER
    assert leadvoice.sf.__name__ == "soundfile" and leadvoice.np.__name__ == "numpy"
    assert leadvoice.unmixer_core.__name__ == "utility.unmixer_core"
    # Module-level state has one home, the package: the extension keeps no copy.
    assert not hasattr(leadvoice._leadvoice, "_SILERO_VAD_MODEL")


def test_import_is_silent_and_loads_nothing(tmp_path):
    done = run_python("""
        import leadvoice
        assert leadvoice._SILERO_VAD_MODEL is None
        print("ok")
    """, tmp_path)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "ok\n"
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize("blocked, later, error", [
    ("scipy.optimize", ["utility.unmixer_core", "wespeaker", "silero_vad"],
     "ModuleNotFoundError No module named 'scipy.optimize'"),
    # `from utility import unmixer_core` names what it could not import.
    ("utility.unmixer_core", ["wespeaker", "silero_vad"],
     "ImportError cannot import name 'unmixer_core' from 'utility' (" + os.path.join(ROOT, "utility", "__init__.py") + ")"),
    ("wespeaker", ["silero_vad"], "ModuleNotFoundError No module named 'wespeaker'"),
    ("silero_vad", [], "ModuleNotFoundError No module named 'silero_vad'"),
])
def test_missing_dependency_fails_the_import(tmp_path, blocked, later, error):
    done = import_with_blocked("leadvoice", blocked, ["leadvoice", "leadvoice._leadvoice", *later], tmp_path)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert lines[0] == error
    assert lines[1] == " ".join(["False"] * (2 + len(later)))


def test_dependency_lacking_a_name(tmp_path):
    fake = tmp_path / "fake" / "silero_vad"
    fake.mkdir(parents=True)
    (fake / "__init__.py").write_text("def load_silero_vad():\n    return None\n")
    done = run_python("import leadvoice", tmp_path, extra_path=[str(tmp_path / "fake")])
    assert done.returncode == 1
    assert "ImportError: cannot import name 'get_speech_timestamps' from 'silero_vad'" in done.stderr
