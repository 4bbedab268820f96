"""MultiSpeakerDetector: checkpoint loading (the "model" entry, the wrapper
prefix, strict names), the rate formula, copies and gradient mode, and long
utterances through the trunk in stretches."""
import json
import math
import sys

import numpy as np
import pytest
import torch
import torch.nn as nn

import multi_speaker_detector.resnet.resnet as resnet
import triageflow
from multi_speaker_detector.resnet.resnet import NoisyDetectorV2, ResNet
from helpers import SR, call_main, write_wav
from triage_fakes import save_detector_checkpoint, write_scp

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


# Long utterances: the package's own network runs its trunk stretch by stretch.

@pytest.fixture(scope="module")
def sharp_state(real_state):
    """The real weights with a steeper head, so that the rate moves visibly
    with any change of the pooled statistics."""
    state = dict(real_state)
    state["model_backbone.seg_1.weight"] = real_state["model_backbone.seg_1.weight"] * 300.0
    return state


@pytest.fixture(scope="module")
def trunk_reach():
    """(stride, before, after): the trunk's output frame o depends on input
    frames stride*o - before ... stride*o + after, found by perturbing one
    input frame at a time (every phase of the stride) and seeing which output
    frames change."""
    torch.manual_seed(5)
    trunk = NoisyDetectorV2().eval().model_backbone
    x = torch.randn(1, 400, 256)
    with torch.no_grad():
        base = trunk._get_frame_level_feat(x.clone())
        stride = x.shape[1] // base.shape[-1]
        before = after = 0
        for f in range(196, 196 + stride):
            y = x.clone()
            y[0, f] += 1.0
            changed = ((trunk._get_frame_level_feat(y) - base).abs().amax(dim=(0, 1, 2)) > 0).nonzero().flatten()
            before = max(before, stride * int(changed[-1]) - f)
            after = max(after, f - stride * int(changed[0]))
    return stride, before, after


class TrunkCalls:
    """Records the features of every trunk call and the input of every whole
    forward of the package's detector network, through the interpreter's
    profiling hook: the network itself is left untouched (a hook on it or a
    replaced method would rightly keep it from going in stretches)."""

    def __enter__(self):
        self.features, self.whole = [], []
        self.previous = sys.getprofile()
        sys.setprofile(self.event)
        return self

    def __exit__(self, *exc):
        sys.setprofile(self.previous)

    def event(self, frame, event, arg):
        if event != "call":
            return
        if frame.f_code is ResNet._get_frame_level_feat.__code__:
            self.features.append(frame.f_locals["x"][0].clone())
        elif frame.f_code is NoisyDetectorV2.forward.__code__:
            self.whole.append(tuple(frame.f_locals["input"].shape))


def whole_rate(model, audio):
    device = next(model.parameters()).device
    with torch.no_grad():
        prob = torch.sigmoid(model(torch.from_numpy(audio.astype(np.float32))[None, None].to(device)))
    return float(prob[0, 1] / prob.sum())


def spans_in(spectrogram, pieces, stride):
    """Where each piece lies in the whole spectrogram, searched on stride
    multiples only."""
    spans = []
    for piece in pieces:
        n = piece.shape[0]
        starts = [s for s in range(0, spectrogram.shape[0] - n + 1, stride)
                  if torch.allclose(spectrogram[s:s + n], piece, rtol=0, atol=1e-5)]
        assert len(starts) == 1, (n, starts)
        spans.append((starts[0], starts[0] + n))
    return spans


@pytest.mark.parametrize("stretch_frames, seconds, hop, device", [
    (240, 4.0, 256, "cpu"),  # the shortest stretch that keeps two output frames
    (333, 8.1, 256, "cpu"),
    (300, 5.0, 160, "cpu"),  # the network's hop is read, not assumed
    (triageflow._DETECTOR_STRETCH_FRAMES, 20.0, 256, "cpu"),  # the run's own stretches
    pytest.param(333, 8.1, 256, "cuda", marks=pytest.mark.skipif(not torch.cuda.is_available(), reason="no CUDA")),
])
def test_long_utterance_in_stretches_equals_the_whole_forward(monkeypatch, tmp_path, sharp_state, trunk_reach,
                                                              stretch_frames, seconds, hop, device):
    detector = triageflow.MultiSpeakerDetector(save_detector_checkpoint(tmp_path / "d.tar", sharp_state),
                                               torch.device(device))
    detector.model.stride = hop
    monkeypatch.setattr(triageflow, "_DETECTOR_STRETCH_FRAMES", stretch_frames)
    audio = np.random.default_rng(3).normal(0, 0.1, int(16000 * seconds))
    with TrunkCalls() as calls:
        rate = detector.predict(audio)
        assert calls.whole == [] and len(calls.features) > 1
        expected = whole_rate(detector.model, audio)
    assert 0.01 < expected < 0.99 and rate == pytest.approx(expected, abs=1e-5)

    # Each stretch is a piece of the whole spectrogram that starts on the
    # trunk's stride, and every output frame's whole reach (clipped at the
    # recording's true edges) lies inside one of them.
    *pieces, spectrogram = calls.features
    stride, before, after = trunk_reach
    spans = spans_in(spectrogram, pieces, stride)
    assert all(end - start <= stretch_frames for start, end in spans)
    frames = spectrogram.shape[0]
    for o in range(-(-frames // stride)):
        low, high = max(stride * o - before, 0), min(stride * o + after, frames - 1)
        assert any(start <= low and high < end for start, end in spans), o


def test_stretches_copy_convert_and_keep_not_a_number(monkeypatch, tmp_path, sharp_state):
    detector = triageflow.MultiSpeakerDetector(save_detector_checkpoint(tmp_path / "d.tar", sharp_state), CPU)
    monkeypatch.setattr(triageflow, "_DETECTOR_STRETCH_FRAMES", 300)
    audio = np.random.default_rng(4).normal(0, 0.1, 16000 * 8)
    kept = audio.copy()
    with TrunkCalls() as calls:
        assert detector.predict(audio) == detector.predict(audio.astype(np.float32))
        np.testing.assert_array_equal(audio, kept)
        audio[60000] = np.nan  # the driver refuses a rate that is not finite
        assert math.isnan(detector.predict(audio))
    assert calls.whole == [] and len(calls.features) > 3


class Subclassed(NoisyDetectorV2):
    """The detector network by inheritance, free to compute something else."""


@pytest.mark.parametrize("how", ["replaced", "replaced_in_the_detector_module", "subclassed", "training",
                                 "fits_one_stretch"])
def test_whole_forward_where_stretches_do_not_apply(monkeypatch, tmp_path, real_state, how):
    monkeypatch.setattr(triageflow, "_DETECTOR_STRETCH_FRAMES", 240)
    samples = 256 * 239 if how == "fits_one_stretch" else 16000 * 5
    if how == "replaced_in_the_detector_module":
        # What the detector module holds now is not the class it defined.
        monkeypatch.setattr(resnet, "NoisyDetectorV2", Fixed)
    if how.startswith("replaced"):
        detector = fixed_detector(monkeypatch, tmp_path, (0.0, 1.0))
        detector.predict(np.zeros(samples))
        assert detector.model.seen == [((1, 1, samples), torch.float32, False)]
        return
    if how == "subclassed":
        monkeypatch.setattr(triageflow, "NoisyDetectorV2", Subclassed)
    detector = triageflow.MultiSpeakerDetector(save_detector_checkpoint(tmp_path / "d.tar", real_state), CPU)
    if how == "training":
        # Batch normalisation in training mode pools over the whole map.
        detector.model.model_backbone.layer3[1].bn2.train()
    audio = np.random.default_rng(5).normal(0, 0.1, samples)
    with TrunkCalls() as calls:
        rate = detector.predict(audio)
    assert calls.whole == [(1, 1, samples)] and len(calls.features) == 1
    assert rate == whole_rate(detector.model, audio)


# What a test or a user may do to the package's own network. Each changes
# its output, and would change it differently in stretches than in one
# whole forward; each leaves in `undo` what takes it back.
SHIFT = torch.tensor([0.0, 2.0])
ORIGINAL = {"detector": NoisyDetectorV2.forward, "trunk": ResNet._get_frame_level_feat,
            "pool": resnet.pooling_layers.TSTP.forward, "conv": nn.Conv2d.forward}
module_hooks = torch.nn.modules.module


def replaced(undo, owner, name, value):
    """owner.name = value, a class's method or an instance's own attribute."""
    own = vars(owner)
    had, old = name in own, own.get(name)
    setattr(owner, name, value)
    undo.append(lambda: setattr(owner, name, old) if had else delattr(owner, name))


def hooked(undo, handle):
    undo.append(handle.remove)


def on_the_detector(hook):
    return lambda module, *args: hook(*args) if isinstance(module, NoisyDetectorV2) else None


PATCHES = {
    "forward_on_the_class": lambda model, undo: replaced(
        undo, NoisyDetectorV2, "forward", lambda self, input: ORIGINAL["detector"](self, input) + SHIFT),
    "forward_on_the_instance": lambda model, undo: replaced(
        undo, model, "forward", lambda input: ORIGINAL["detector"](model, input) + SHIFT),
    "forward_hook": lambda model, undo: hooked(undo, model.register_forward_hook(lambda module, args, out: out + SHIFT)),
    "forward_pre_hook": lambda model, undo: hooked(
        undo, model.register_forward_pre_hook(lambda module, args: (args[0] * 0.5,))),
    "global_forward_hook": lambda model, undo: hooked(
        undo, module_hooks.register_module_forward_hook(on_the_detector(lambda args, out: out + SHIFT))),
    "global_forward_pre_hook": lambda model, undo: hooked(
        undo, module_hooks.register_module_forward_pre_hook(on_the_detector(lambda args: (args[0] * 0.5,)))),
    # A layer the stretches call, with what it sees of the input's length.
    "hook_on_a_trunk_layer": lambda model, undo: hooked(
        undo, model.model_backbone.layer4.register_forward_hook(lambda module, args, out: out + 0.01 * out.shape[-1])),
    # The pooling, which the stretches gather for themselves.
    "hook_on_the_pooling": lambda model, undo: hooked(
        undo, model.model_backbone.pool.register_forward_hook(lambda module, args, out: out * 1.5)),
    "trunk_method_on_the_class": lambda model, undo: replaced(
        undo, ResNet, "_get_frame_level_feat", lambda self, x: ORIGINAL["trunk"](self, x) + 1e-3 * x.shape[1]),
    "trunk_method_on_the_instance": lambda model, undo: replaced(
        undo, model.model_backbone, "_get_frame_level_feat",
        lambda x: ORIGINAL["trunk"](model.model_backbone, x) * 1.5),
    "pooling_forward_on_the_class": lambda model, undo: replaced(
        undo, resnet.pooling_layers.TSTP, "forward", lambda self, x: ORIGINAL["pool"](self, x) * 1.5),
    "conv_forward_on_the_class": lambda model, undo: replaced(
        undo, nn.Conv2d, "forward", lambda self, x: ORIGINAL["conv"](self, x) + 1e-4 * x.shape[-1]),
    # Changes no value, but is a hook all the same.
    "backward_hook": lambda model, undo: hooked(
        undo, model.model_backbone.layer1.register_full_backward_hook(lambda module, grad_in, grad_out: None)),
}


@pytest.mark.parametrize("patch", PATCHES)
def test_a_patched_network_gets_its_own_call_on_long_input(monkeypatch, tmp_path, sharp_state, patch):
    detector = triageflow.MultiSpeakerDetector(save_detector_checkpoint(tmp_path / "d.tar", sharp_state), CPU)
    monkeypatch.setattr(triageflow, "_DETECTOR_STRETCH_FRAMES", 240)
    audio = np.random.default_rng(6).normal(0, 0.1, int(16000 * 4.5))
    unpatched = detector.predict(audio)
    undo = []
    try:
        PATCHES[patch](detector.model, undo)
        with TrunkCalls() as calls:
            rate = detector.predict(audio)
        assert calls.whole == [(1, 1, len(audio))]
        assert rate == whole_rate(detector.model, audio)
        if patch != "backward_hook":
            assert rate != pytest.approx(unpatched, abs=1e-3)
    finally:
        for take_back in reversed(undo):
            take_back()
    # Taken back, the network goes in stretches again.
    with TrunkCalls() as calls:
        assert detector.predict(audio) == unpatched
    assert calls.whole == [] and len(calls.features) > 1


def test_a_failing_stretch_is_said_once_and_the_whole_forward_runs(monkeypatch, tmp_path, capsys, real_state):
    detector = triageflow.MultiSpeakerDetector(save_detector_checkpoint(tmp_path / "d.tar", real_state), CPU)
    capsys.readouterr()
    # Shorter than the trunk's reach: no stretch can keep an output frame.
    monkeypatch.setattr(triageflow, "_DETECTOR_STRETCH_FRAMES", 16)
    audio = np.random.default_rng(7).normal(0, 0.1, int(16000 * 4.5))
    with TrunkCalls() as calls:
        rates = [detector.predict(audio), detector.predict(audio[::-1].copy())]
    assert calls.whole == [(1, 1, len(audio))] * 2
    assert rates == [whole_rate(detector.model, audio), whole_rate(detector.model, audio[::-1].copy())]
    out = capsys.readouterr().out.splitlines()
    assert len(out) == 1 and out[0].startswith("[检测器] 长音频分段检测失败，改为整段前向（内存随音频长度增长）: a stretch of 16 "
                                               "frames keeps no output frame")


def test_non_array_input_fails_as_before(tmp_path, real_state):
    detector = triageflow.MultiSpeakerDetector(save_detector_checkpoint(tmp_path / "d.tar", real_state), CPU)
    with pytest.raises(AttributeError, match="astype"):
        detector.predict([0.0] * (16000 * 30))


# Whole runs with a patched network: every entry, the long one too, gets the
# rate of the network's own call.

def small_trunk(feat_dim, embed_dim, pooling_func="TSTP", two_emb_layer=False):
    """A trunk of the package's own classes, small enough for a long utterance
    in one whole forward."""
    return ResNet(resnet.BasicBlock, [1, 1, 1, 1], m_channels=2, feat_dim=feat_dim, embed_dim=embed_dim,
                  pooling_func=pooling_func, two_emb_layer=two_emb_layer)


PATCHED_LOGITS = torch.tensor([[0.0, -3.0]])
RUN_PATCHES = {
    "forward_on_the_class": lambda undo: replaced(undo, NoisyDetectorV2, "forward",
                                                  lambda self, input: PATCHED_LOGITS.to(input.device)),
    "global_forward_hook": lambda undo: hooked(
        undo, module_hooks.register_module_forward_hook(on_the_detector(lambda args, out: PATCHED_LOGITS))),
}


@pytest.mark.parametrize("patch", RUN_PATCHES)
def test_a_run_rates_every_entry_with_the_patched_network(monkeypatch, capsys, tmp_path, pipeline_models, patch):
    monkeypatch.setattr(resnet, "ResNet34", small_trunk)
    torch.manual_seed(3)
    detector = save_detector_checkpoint(tmp_path / "d.tar", NoisyDetectorV2().state_dict())
    noise = np.random.default_rng(8).normal(0, 0.1, SR * 70).astype(np.float32)
    # 70 s is over 4000 detector frames, far past one stretch.
    entries = [("short", write_wav(tmp_path / "short.wav", noise[:3 * SR], SR)),
               ("long", write_wav(tmp_path / "long.wav", noise, SR))]
    out_jsonl = tmp_path / "out.jsonl"
    undo = []
    try:
        RUN_PATCHES[patch](undo)
        call_main(monkeypatch, triageflow, "--scp", str(write_scp(tmp_path, entries)), "--out_jsonl", str(out_jsonl),
                  "--save_dir", str(tmp_path / "sep"), "--detector_ckpt", detector,
                  "--inference", pipeline_models["sep"], "--device", "cpu")
    finally:
        for take_back in reversed(undo):
            take_back()
    prob = torch.sigmoid(PATCHED_LOGITS[0])
    expected = float(prob[1] / prob.sum())
    records = [json.loads(line) for line in out_jsonl.read_text(encoding="utf-8").splitlines()]
    assert [(r["id"], r["multi_spks_rate"], r["multi_spks"]) for r in records] == [
        ("short", expected, False), ("long", expected, False)]
    assert "分段检测失败" not in capsys.readouterr().out
