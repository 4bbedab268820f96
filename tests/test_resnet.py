import copy
import math

import numpy as np
import pytest
import torch
import torch.nn as nn

from helpers import ROOT, launch
from multi_speaker_detector.resnet import pooling_layers
from multi_speaker_detector.resnet import resnet
from multi_speaker_detector.resnet.resnet import (
    BasicBlock, Bottleneck, ResNet, NoisyDetectorV2, NoisyDetectorV2onnx)

BN_KEYS = ("weight", "bias", "running_mean", "running_var",
           "num_batches_tracked")
LN_EPS = math.log(1e-12)


@pytest.fixture(scope="module")
def detector():
    torch.manual_seed(0)
    model = NoisyDetectorV2()
    _randomise_bn_stats(model)
    return model.eval()


def _randomise_bn_stats(model):
    # Fresh running statistics are 0/1; random ones make eval mode non-trivial.
    gen = torch.Generator().manual_seed(1)
    with torch.no_grad():
        for m in model.modules():
            if isinstance(m, nn.BatchNorm2d):
                m.running_mean.copy_(torch.randn(m.num_features, generator=gen) * 0.1)
                m.running_var.copy_(torch.rand(m.num_features, generator=gen) + 0.5)


def _keys(module):
    return list(module.state_dict().keys())


# ---------------------------------------------------------------- blocks

@pytest.mark.parametrize("block, in_planes, planes, stride, projects, out_ch", [
    (BasicBlock, 32, 32, 1, False, 32),
    (BasicBlock, 32, 32, 2, True, 32),     # stride alone decides
    (BasicBlock, 32, 64, 1, True, 64),     # channel counts alone decide
    (Bottleneck, 32, 32, 1, True, 128),    # 32 != 4 * 32
    (Bottleneck, 128, 32, 1, False, 128),
    (Bottleneck, 64, 16, 2, True, 64),
])
def test_block_layout_and_shapes(block, in_planes, planes, stride, projects, out_ch):
    blk = block(in_planes, planes, stride).eval()
    convs = ["conv1", "bn1", "conv2", "bn2"]
    if block is Bottleneck:
        convs += ["conv3", "bn3"]
    if projects:
        convs += ["shortcut.0", "shortcut.1"]
    expected = []
    for name in convs:
        if name.startswith("conv") or name == "shortcut.0":
            expected.append(name + ".weight")
        else:
            expected += ["%s.%s" % (name, k) for k in BN_KEYS]
    assert _keys(blk) == expected
    assert list(dict(blk.named_children())) == [c for c in convs if "." not in c] + ["shortcut"]
    # The block's stride sits on the 3x3 convolution of each kind.
    s, one = (stride, stride), (1, 1)
    if block is Bottleneck:
        main = [blk.conv1, blk.conv2, blk.conv3]
        assert [(c.kernel_size, c.stride) for c in main] == [((1, 1), one), ((3, 3), s), ((1, 1), one)]
    else:
        main = [blk.conv1, blk.conv2]
        assert [(c.kernel_size, c.stride) for c in main] == [((3, 3), s), ((3, 3), one)]

    x = torch.randn(2, in_planes, 5, 7)
    x_before = x.clone()
    with torch.no_grad():
        y = blk(x)
    expect_hw = (3, 4) if stride == 2 else (5, 7)
    assert y.shape == (2, out_ch) + expect_hw
    assert torch.equal(x, x_before)


def test_expansion_is_read_from_the_class():
    assert BasicBlock.expansion == 1
    assert Bottleneck.expansion == 4


@pytest.mark.parametrize("block, in_planes, planes, stride", [
    (BasicBlock, 8, 8, 1),
    (BasicBlock, 8, 16, 2),
    (Bottleneck, 32, 8, 1),
    (Bottleneck, 16, 8, 2),
])
def test_block_adds_shortcut_before_final_relu(block, in_planes, planes, stride):
    # With the last convolution zeroed the main path is 0 after its batch
    # norm (eval, default statistics), so the block reduces to relu(shortcut).
    blk = block(in_planes, planes, stride).eval()
    last = blk.conv3 if block is Bottleneck else blk.conv2
    with torch.no_grad():
        last.weight.zero_()
        x = torch.randn(1, in_planes, 6, 5)
        expected = torch.relu(blk.shortcut(x))
        assert torch.allclose(blk(x), expected, atol=1e-6)
    if len(blk.shortcut) == 0:
        assert torch.equal(expected, torch.relu(x))


# ---------------------------------------------------------------- trunk

FACTORIES = [
    ("ResNet18", 1, [2, 2, 2, 2]),
    ("ResNet34", 1, [3, 4, 6, 3]),
    ("ResNet50", 4, [3, 4, 6, 3]),
    ("ResNet101", 4, [3, 4, 23, 3]),
    ("ResNet152", 4, [3, 8, 36, 3]),
    ("ResNet221", 4, [6, 16, 48, 3]),
    ("ResNet293", 4, [10, 20, 64, 3]),
]


@pytest.mark.parametrize("name, expansion, counts", FACTORIES)
def test_factories_at_all_depths(name, expansion, counts):
    trunk = getattr(resnet, name)(16, 3).eval()
    k = 256 * expansion
    assert [len(getattr(trunk, "layer%d" % i)) for i in range(1, 5)] == counts
    assert trunk.in_planes == k
    assert trunk.stats_dim == 512 and trunk.pool.in_dim == 512 * expansion
    # The depth in the name counts the stem, seg_1 and every block convolution.
    per_block = 2 if expansion == 1 else 3
    assert int(name[len("ResNet"):]) == 2 + per_block * sum(counts)

    x = torch.randn(2, 13, 16)
    with torch.no_grad():
        stage4 = trunk._get_frame_level_feat(torch.randn(2, 13, 11))
        zero, emb = trunk(x)
    assert stage4.shape == (2, k, 2, 2)
    assert emb.shape == (2, 3)
    assert zero.dim() == 0 and zero.item() == 0.0
    assert x.shape == (2, 13, 16)


def test_stage_sizes_on_odd_time():
    trunk = resnet.ResNet18(40, 8).eval()
    sizes = []
    for mod in (trunk.bn1, trunk.layer1, trunk.layer2, trunk.layer3, trunk.layer4):
        mod.register_forward_hook(lambda m, i, o: sizes.append(tuple(o.shape[2:])))
    with torch.no_grad():
        trunk(torch.randn(1, 100, 40))
    assert sizes == [(40, 100), (40, 100), (20, 50), (10, 25), (5, 13)]

    with torch.no_grad():
        single = trunk._get_frame_level_feat(torch.randn(1, 1, 40))
        frames = trunk.get_frame_level_feat(torch.randn(2, 19, 40))
    assert single.shape == (1, 256, 5, 1)
    assert frames.shape == (2, 3, 1280)


@pytest.mark.parametrize("block, feat_dim, stats_dim, in_dim, in_planes", [
    (BasicBlock, 40, 1280, 1280, 256),
    (Bottleneck, 40, 1280, 5120, 1024),
    (BasicBlock, 20, 512, 512, 256),       # 20 is not a multiple of 8
    (BasicBlock, 256, 8192, 8192, 256),
])
def test_trunk_sizes_pooling_by_name(monkeypatch, block, feat_dim, stats_dim, in_dim, in_planes):
    calls = []

    class Recorder(nn.Module):
        def __init__(self, *args, **kwargs):
            super().__init__()
            calls.append((args, kwargs))

        def get_out_dim(self):
            return 7

        def forward(self, x):
            return x.mean(dim=(2, 3))[:, :7]

    monkeypatch.setattr(pooling_layers, "Recorder", Recorder, raising=False)
    trunk = ResNet(block, [2, 2, 2, 2], feat_dim=feat_dim, pooling_func="Recorder")
    assert calls == [((), {"in_dim": in_dim})]
    assert trunk.stats_dim == stats_dim and trunk.in_planes == in_planes
    assert trunk.pool_out_dim == 7
    assert (trunk.seg_1.in_features, trunk.seg_1.out_features) == (7, 128)


def test_trunk_accepts_any_block_class():
    class Pointwise(nn.Module):
        expansion = 2

        def __init__(self, in_planes, planes, stride=1):
            super().__init__()
            self.conv = nn.Conv2d(in_planes, planes * 2, 1, stride=stride)

        def forward(self, x):
            return self.conv(x)

    trunk = ResNet(Pointwise, [1, 1, 1, 1], m_channels=4, feat_dim=16, embed_dim=5).eval()
    assert trunk.in_planes == 64 and trunk.pool.in_dim == 2 * 4 * 8 * 2
    with torch.no_grad():
        assert trunk(torch.randn(3, 9, 16))[1].shape == (3, 5)


def test_unknown_pooling_name_fails():
    with pytest.raises(AttributeError):
        resnet.ResNet18(40, 8, pooling_func="NoSuchPooling")


def test_stage_block_counts_and_strides():
    trunk = ResNet(BasicBlock, [0, 1, 3, 2])
    assert len(trunk.layer1) == 1 and len(trunk.layer2) == 1
    assert [b.conv1.stride for b in trunk.layer3] == [(2, 2), (1, 1), (1, 1)]
    assert [b.conv1.stride for b in trunk.layer4] == [(2, 2), (1, 1)]


@pytest.mark.parametrize("flag", [True, 1])
def test_two_embedding_layers(flag):
    torch.manual_seed(3)
    trunk = resnet.ResNet18(16, 6, two_emb_layer=flag).eval()
    keys = _keys(trunk)
    assert [k for k in keys if k.startswith("seg_")] == [
        "seg_1.weight", "seg_1.bias",
        "seg_bn_1.running_mean", "seg_bn_1.running_var",
        "seg_bn_1.num_batches_tracked",
        "seg_2.weight", "seg_2.bias"]
    with torch.no_grad():
        embed_a, embed_b = trunk(torch.randn(4, 10, 16))
        expected_b = trunk.seg_2(trunk.seg_bn_1(torch.relu(embed_a)))
    assert torch.allclose(embed_b, expected_b)
    assert (embed_a < 0).any()   # returned before the relu


def test_single_embedding_layer_has_identities():
    trunk = resnet.ResNet18(16, 6)
    assert isinstance(trunk.seg_bn_1, nn.Identity) and isinstance(trunk.seg_2, nn.Identity)
    assert not any(k.startswith(("seg_bn_1", "seg_2")) for k in _keys(trunk))


# ---------------------------------------------------------------- pooling

def test_tstp_statistics_over_time():
    pool = pooling_layers.TSTP(in_dim=12)
    assert pool.get_out_dim() == 24
    assert list(pool.parameters()) == [] and list(pool.buffers()) == []
    x = torch.randn(2, 3, 4, 9, dtype=torch.float64)
    out = pool(x)
    flat = x.reshape(2, 12, 9)
    assert out.shape == (2, 24)
    assert torch.allclose(out[:, :12], flat.mean(-1))
    assert torch.allclose(out[:, 12:], flat.std(-1), atol=1e-6)


@pytest.mark.parametrize("frames", [1, 5])
def test_tstp_constant_or_single_frame_is_finite(frames):
    pool = pooling_layers.TSTP(in_dim=6)
    x = torch.full((2, 3, 2, frames), 1.5, requires_grad=True)
    out = pool(x)
    out.sum().backward()
    assert torch.isfinite(out).all() and torch.isfinite(x.grad).all()
    assert torch.allclose(out[:, :6], torch.full((2, 6), 1.5))
    assert (out[:, 6:] < 1e-3).all()


# ---------------------------------------------------------------- detector

def _expected_detector_keys():
    keys = ["conv1.weight"] + ["bn1." + k for k in BN_KEYS]
    for stage, count in enumerate([3, 4, 6, 3], start=1):
        for i in range(count):
            prefix = "layer%d.%d." % (stage, i)
            parts = ["conv1", "bn1", "conv2", "bn2"]
            if stage > 1 and i == 0:
                parts += ["shortcut.0", "shortcut.1"]
            for part in parts:
                if part in ("conv1", "conv2", "shortcut.0"):
                    keys.append(prefix + part + ".weight")
                else:
                    keys += [prefix + part + "." + k for k in BN_KEYS]
    keys += ["seg_1.weight", "seg_1.bias"]
    return ["model_backbone." + k for k in keys]


@pytest.mark.parametrize("cls", [NoisyDetectorV2, NoisyDetectorV2onnx])
def test_detector_weight_keys(cls):
    model = cls()
    assert _keys(model) == _expected_detector_keys()
    assert (model.n_fft, model.stride, model.window) == (512, 256, "hann")
    assert list(dict(model.named_children())) == ["model_backbone"]
    sd = model.state_dict()
    assert sd["model_backbone.seg_1.weight"].shape == (2, 16384)
    assert sd["model_backbone.layer2.0.shortcut.0.weight"].shape == (64, 32, 1, 1)


@pytest.mark.parametrize("mutate, message", [
    (lambda sd: None, None),
    (lambda sd: sd.pop("model_backbone.layer3.0.shortcut.1.running_var"), "Missing key"),
    (lambda sd: sd.__setitem__("model_backbone.layer1.0.shortcut.0.weight",
                               torch.zeros(32, 32, 1, 1)), "Unexpected key"),
])
@pytest.mark.parametrize("cls", [NoisyDetectorV2, NoisyDetectorV2onnx])
def test_strict_load_of_saved_weights(tmp_path, detector, cls, mutate, message):
    path = tmp_path / "weights.pt"
    torch.save(detector.state_dict(), str(path))
    sd = torch.load(str(path))
    mutate(sd)
    target = cls()
    if message is None:
        target.load_state_dict(sd)
        for key, value in detector.state_dict().items():
            assert torch.equal(target.state_dict()[key], value), key
    else:
        with pytest.raises(RuntimeError, match=message):
            target.load_state_dict(sd)


def _capture_features(model, wave):
    seen = []
    handle = model.model_backbone.register_forward_pre_hook(
        lambda m, args: seen.append(args[0].clone()))
    try:
        with torch.no_grad():
            out = model(wave)
    finally:
        handle.remove()
    return seen[0], out


@pytest.mark.parametrize("samples, frames", [(16498, 65), (16000, 63), (300, 2)])
def test_zero_waveform_features_and_frames(detector, samples, frames):
    feats, out = _capture_features(detector, torch.zeros(2, 1, samples))
    assert feats.shape == (2, frames, 256)
    assert torch.allclose(feats, torch.full_like(feats, LN_EPS))
    assert out.shape == (2, 2)
    # 300 samples leave one stage-4 frame: the pooled spread must stay finite.
    assert torch.isfinite(out).all()


def _reference_log_spectrum(x, n_fft=512, hop=256):
    pad = n_fft // 2
    padded = np.pad(x, pad, mode="reflect")
    n = np.arange(n_fft)
    window = 0.5 - 0.5 * np.cos(2 * np.pi * n / n_fft)
    count = 1 + len(x) // hop
    frames = np.stack([padded[m * hop:m * hop + n_fft] * window for m in range(count)])
    spectrum = np.fft.rfft(frames, axis=-1)[:, :n_fft // 2]
    return np.log(np.abs(spectrum) + 1e-12)


def test_features_are_log_magnitude_spectrum(detector):
    rng = np.random.default_rng(4)
    wave = rng.standard_normal(3000)
    model = copy.deepcopy(detector).double()
    feats, _ = _capture_features(model, torch.from_numpy(wave).view(1, 1, -1))
    assert feats.dtype == torch.float64
    np.testing.assert_allclose(feats[0].numpy(), _reference_log_spectrum(wave), atol=1e-8)


def test_only_channel_zero_and_own_row_matter(detector):
    torch.manual_seed(5)
    batch = torch.randn(3, 2, 4000)
    other = batch.clone()
    other[:, 1] = torch.randn(3, 4000)
    with torch.no_grad():
        out = detector(batch)
        assert torch.equal(detector(other), out)
        for b in range(3):
            single = detector(batch[b:b + 1, :1])
            assert torch.allclose(single, out[b:b + 1], atol=1e-5)
    assert not torch.allclose(out[0], out[1])


def test_short_waveform_cannot_be_padded(detector):
    with pytest.raises(RuntimeError):
        with torch.no_grad():
            detector(torch.zeros(1, 1, 256))


def test_export_rate_matches_pipeline_formula(detector):
    export = NoisyDetectorV2onnx().eval()
    export.load_state_dict(detector.state_dict())
    torch.manual_seed(6)
    wave = torch.randn(2, 1, 6000)
    spectrum = torch.stft(wave[:, 0], n_fft=512, win_length=512, hop_length=256,
                      window=torch.hann_window(512), return_complex=True,
                      onesided=True).transpose(1, 2)
    planes = torch.stack((spectrum.real, spectrum.imag), dim=1)
    assert planes.shape == (2, 2, 24, 257)
    with torch.no_grad():
        rate = export(planes)
        logits = detector(wave)
    assert rate.shape == (2,)
    for b in range(2):
        prob = torch.sigmoid(logits[b:b + 1])
        expected = prob[0][1] / torch.sum(prob)
        assert rate[b].item() == pytest.approx(expected.item(), abs=1e-5)


def test_export_rate_is_half_for_equal_logits():
    export = NoisyDetectorV2onnx().eval()
    with torch.no_grad():
        export.model_backbone.seg_1.weight.zero_()
        export.model_backbone.seg_1.bias.fill_(-3.0)
        rate = export(torch.randn(2, 2, 9, 257))
    assert torch.equal(rate, torch.full((2,), 0.5))


# ---------------------------------------------------------------- module

def test_parameter_count_with_tstp():
    model = NoisyDetectorV2()
    count = sum(p.numel() for p in model.parameters())
    p = model.model_backbone.pool_out_dim
    assert p == 2 * 8192
    assert count == 5323362 + 2 * p == 5356130


def test_demonstration_prints_two_lines():
    proc = launch("-m", "multi_speaker_detector.resnet.resnet", cwd=ROOT)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout.splitlines() == ["torch.Size([1, 2])", "5.35613 M"]


def test_import_prints_nothing():
    proc = launch("-c", "import multi_speaker_detector.resnet.resnet as m; "
                        "print(sorted(n for n in ('x', 'model', 'out', 'num_params') if hasattr(m, n)))", cwd=ROOT)
    assert proc.returncode == 0, proc.stderr
    assert proc.stdout == "[]\n"
