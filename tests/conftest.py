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
