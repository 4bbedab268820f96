"""MultiSpeakerDetector: checkpoint loading (the "model" entry, the wrapper
prefix, strict names), the rate formula, copies and gradient mode."""
import numpy as np
import pytest
import torch
import torch.nn as nn

import triageflow
from multi_speaker_detector.resnet.resnet import NoisyDetectorV2
from triage_fakes import save_detector_checkpoint

CPU = torch.device("cpu")


@pytest.fixture(scope="module")
def real_state():
    torch.manual_seed(1234)
    return NoisyDetectorV2().state_dict()


def prefixed(state, which):
    """The names of `state` with "module." put before those `which` selects."""
    return {("module." + k if which(i) else k): v for i, (k, v) in enumerate(state.items())}


@pytest.mark.parametrize("names, extra", [
    (lambda i: True, {}),
    (lambda i: False, {}),
    (lambda i: i % 2 == 0, {"epoch": 7, "optimizer": {"lr": 0.1}}),
])
def test_checkpoint_names_load_into_the_network(tmp_path, capsys, real_state, names, extra):
    path = tmp_path / "det.tar"
    torch.save({"model": prefixed(real_state, names), **extra}, str(path))
    detector = triageflow.MultiSpeakerDetector(str(path), CPU)
    assert capsys.readouterr().out == f"[检测器] NoisyDetectorV2 加载成功: {path}\n"
    assert detector.device is CPU and not detector.model.training
    loaded = detector.model.state_dict()
    assert list(loaded) == list(real_state)
    for k, v in real_state.items():
        assert torch.equal(loaded[k], v), k


def test_prefix_is_cut_once(tmp_path, real_state):
    path = save_detector_checkpoint(tmp_path / "det.tar", real_state, prefix="module.module.")
    with pytest.raises(RuntimeError, match=r"Unexpected key\(s\) in state_dict: \"module\.model_backbone"):
        triageflow.MultiSpeakerDetector(path, CPU)


class Fixed(nn.Module):
    """Returns the class scores it holds, whatever the input."""

    def __init__(self):
        super().__init__()
        self.scores = nn.Parameter(torch.zeros(2))
        self.seen = []

    def forward(self, input):
        self.seen.append((tuple(input.shape), input.dtype, torch.is_grad_enabled()))
        return self.scores.unsqueeze(0) * 1.0


def fixed_detector(monkeypatch, tmp_path, scores):
    monkeypatch.setattr(triageflow, "NoisyDetectorV2", Fixed)
    path = save_detector_checkpoint(tmp_path / "det.tar", {"scores": torch.tensor(scores)})
    return triageflow.MultiSpeakerDetector(path, CPU)


@pytest.mark.parametrize("scores", [(0.0, 0.0), (0.0, 2.0), (2.0, -2.0), (-30.0, 5.0), (40.0, 40.0)])
def test_rate_is_class_one_share_of_the_sigmoids(monkeypatch, tmp_path, scores):
    detector = fixed_detector(monkeypatch, tmp_path, scores)
    rate = detector.predict(np.zeros(1600))
    prob = torch.sigmoid(torch.tensor(scores, dtype=torch.float32))
    assert type(rate) is float
    assert rate == float(prob[1] / prob.sum())
    assert detector.model.seen == [((1, 1, 1600), torch.float32, False)]
    if scores == (0.0, 2.0):
        assert rate == pytest.approx(0.638, abs=1e-3)  # a softmax would give 0.88


def test_missing_checkpoint(monkeypatch, tmp_path, capsys):
    monkeypatch.setattr(triageflow, "NoisyDetectorV2", Fixed)
    for path in (str(tmp_path / "none.tar"), str(tmp_path)):
        with pytest.raises(FileNotFoundError) as error:
            triageflow.MultiSpeakerDetector(path, CPU)
        assert str(error.value) == "多说话人检测模型权重不存在: " + path
    assert capsys.readouterr().out == ""


@pytest.mark.parametrize("content, error", [
    ({"state": {}}, KeyError),
    ({"model": [("scores", torch.zeros(2))]}, AttributeError),
    ({"model": {3: torch.zeros(2)}}, AttributeError),
    ({"model": {"scores": torch.zeros(2), "extra": torch.zeros(1)}}, RuntimeError),
])
def test_bad_checkpoints_raise(monkeypatch, tmp_path, content, error):
    monkeypatch.setattr(triageflow, "NoisyDetectorV2", Fixed)
    torch.save(content, str(tmp_path / "det.tar"))
    with pytest.raises(error):
        triageflow.MultiSpeakerDetector(str(tmp_path / "det.tar"), CPU)


class Scribbler(Fixed):
    """Overwrites its input in place, as a careless network might."""

    def forward(self, input):
        input.mul_(0.0)
        return super().forward(input)


def test_input_is_copied_and_precision_does_not_matter(monkeypatch, tmp_path):
    monkeypatch.setattr(triageflow, "NoisyDetectorV2", Scribbler)
    path = save_detector_checkpoint(tmp_path / "det.tar", {"scores": torch.tensor([0.0, 1.0])})
    detector = triageflow.MultiSpeakerDetector(path, CPU)
    audio32 = np.linspace(-0.5, 0.5, 800, dtype=np.float32)
    kept = audio32.copy()
    assert detector.predict(audio32) == detector.predict(audio32.astype(np.float64))
    np.testing.assert_array_equal(audio32, kept)


class Failing(Fixed):
    def forward(self, input):
        super().forward(input)
        raise RuntimeError("too short for the network")


def test_gradient_mode_is_restored(monkeypatch, tmp_path):
    detector = fixed_detector(monkeypatch, tmp_path, (0.0, 1.0))
    with torch.enable_grad():
        detector.predict(np.zeros(100))
        assert torch.is_grad_enabled()
        detector.model.__class__ = Failing
        with pytest.raises(RuntimeError, match="too short"):
            detector.predict(np.zeros(100))
        assert torch.is_grad_enabled()
    assert [seen[2] for seen in detector.model.seen] == [False, False]


def test_real_network_rate(tmp_path, real_state):
    detector = triageflow.MultiSpeakerDetector(save_detector_checkpoint(tmp_path / "d.tar", real_state), CPU)
    audio = np.random.default_rng(0).normal(0, 0.1, 16000)
    rate = detector.predict(audio)
    with torch.no_grad():
        prob = torch.sigmoid(detector.model(torch.from_numpy(audio.astype(np.float32))[None, None]))
    assert rate == float(prob[0, 1] / prob.sum()) and 0.0 < rate < 1.0
