import os
import subprocess
import sys

import pytest

from helpers import ROOT, STAND_INS

# Real installations take precedence over the stand-ins because they come
# first on sys.path.
if ROOT not in sys.path:
    sys.path.insert(0, ROOT)
if STAND_INS not in sys.path:
    sys.path.append(STAND_INS)


@pytest.fixture
def tracker(capsys):
    """A SpeakerTracker at its defaults, the line its model loading prints already read."""
    from leadvoice import SpeakerTracker
    made = SpeakerTracker()
    capsys.readouterr()
    return made


@pytest.fixture(scope="module")
def pipeline_models(tmp_path_factory):
    """Checkpoint paths of the pipeline's networks: "detector" of a
    PeakDetector (with an epoch beside the weights, as training leaves it)
    and "sep" of the stand-in separation network."""
    from triage_fakes import PeakDetector, save_detector_checkpoint
    from utility.unmixer_core import write_checkpoint
    root = tmp_path_factory.mktemp("models")
    return {"detector": save_detector_checkpoint(root / "det.tar", PeakDetector().state_dict(), epoch=3),
            "sep": write_checkpoint(str(root / "sep.pth"))}


@pytest.fixture
def small_tmpfs(tmp_path):
    """Mounts a small tmpfs (64 KiB unless told) on a new folder of tmp_path
    and returns the folder, made read-only when asked; None where this process
    may not mount. Unmounted when the test ends."""
    mounted = []

    def mount(name, size="64k", read_only=False):
        folder = tmp_path / name
        folder.mkdir()
        if os.geteuid() != 0 or subprocess.run(["mount", "-t", "tmpfs", "-o", f"size={size}", "tmpfs", str(folder)],
                                               capture_output=True).returncode != 0:
            return None
        mounted.append(folder)
        if read_only:
            subprocess.run(["mount", "-o", "remount,ro", str(folder)], check=True)
        return folder

    yield mount
    for folder in reversed(mounted):
        subprocess.run(["umount", str(folder)], check=True)


@pytest.fixture
def bind_mount():
    """Binds a folder onto another (made if missing) and returns the mount
    point; None where this process may not mount. Unmounted when the test
    ends."""
    mounted = []

    def mount(source, target):
        target.mkdir(exist_ok=True)
        if os.geteuid() != 0 or subprocess.run(["mount", "--bind", str(source), str(target)],
                                               capture_output=True).returncode != 0:
            return None
        mounted.append(target)
        return target

    yield mount
    for target in reversed(mounted):
        subprocess.run(["umount", str(target)], check=True)
