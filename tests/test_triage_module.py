"""Loading triageflow: libraries and neighbours in a fixed order, then the
pipeline's definitions, all in the package's one namespace; nothing runs."""
import os

import pytest

import triageflow
from helpers import ROOT, import_with_blocked, run_python

NAMES = ["argparse", "json", "os", "sys", "OrderedDict", "np", "sf", "torch", "librosa", "NoisyDetectorV2",
         "Logger", "SpeakerTracker", "CSSProcessor", "select_main_channel", "load_checkpoint_for_inference",
         "ensure_dir", "unmixer_core", "parse_args", "parse_scp", "load_audio_16k", "MultiSpeakerDetector",
         "run_separation_and_save", "main"]


def test_names_in_binding_order_and_one_namespace():
    import leadvoice
    from multi_speaker_detector.resnet import resnet
    from speech_resample import librosa
    assert [n for n in vars(triageflow) if n in NAMES] == NAMES
    assert triageflow.Logger is leadvoice.Logger and triageflow.NoisyDetectorV2 is resnet.NoisyDetectorV2
    assert triageflow.librosa is librosa and triageflow.unmixer_core.__name__ == "utility.unmixer_core"
    assert [n for n in vars(triageflow._triageflow) if not n.startswith("__")] == []


def test_import_runs_nothing(tmp_path):
    done = run_python("import triageflow; print('ok')", tmp_path, "--scp")
    assert (done.returncode, done.stdout, done.stderr) == (0, "ok\n", "")
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize("blocked, error", [
    # The detector module loads before leadvoice.
    ("multi_speaker_detector.resnet.pooling_layers",
     "ImportError cannot import name 'pooling_layers' from 'multi_speaker_detector.resnet' ("
     + os.path.join(ROOT, "multi_speaker_detector", "resnet", "__init__.py") + ")"),
    ("silero_vad", "ModuleNotFoundError No module named 'silero_vad'"),
    ("soundfile", "ModuleNotFoundError No module named 'soundfile'"),
])
def test_a_missing_neighbour_fails_the_import(tmp_path, blocked, error):
    done = import_with_blocked("triageflow", blocked, ["triageflow", "leadvoice"], tmp_path)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines() == [error, "False False"]
