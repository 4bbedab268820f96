import inspect

import numpy as np
import pytest
import torch

import leadvoice
from css_fakes import SMALL_WINDOWS, FakeTracker, ScriptedNetwork
from helpers import packed_field, unaligned_copy
from leadvoice import CSSProcessor

FIELDS = ["separation_model", "speaker_tracker", "max_speakers", "seg_duration", "hop_duration",
          "sample_rate", "sisdr_threshold", "sisdr_threshold_prev", "merge_threshold", "device",
          "segments_save_dir", "padding_samples", "seg_samples", "hop_samples"]


def silent_tracker():
    tracker = FakeTracker(embed=lambda signal: (None, 0))
    tracker.calls.clear()
    return tracker


def mixture_copies(window):
    # Output 1 repeats the mixture, so every scan stops after output 0.
    return [window, window]


# ---------------------------------------------------------------- construction

def test_fields_in_order_with_defaults():
    model, tracker = object(), object()
    p = CSSProcessor(model, tracker)
    assert list(vars(p)) == FIELDS
    assert p.separation_model is model and p.speaker_tracker is tracker
    assert [getattr(p, f) for f in FIELDS[2:]] == [4, 2.4, 1.2, 16000, 10.0, -10.0, 0.7, "cpu", None,
                                                   9600, 38400, 19200]
    assert CSSProcessor.__bases__ == (object,)


@pytest.mark.parametrize("kwargs, field, expected", [
    (dict(padding_samples=0.5), "padding_samples", 8000),
    (dict(seg_duration=2.3, sample_rate=48000), "seg_samples", 110399),   # 110399.99999999999
    (dict(seg_duration=2, sample_rate=16000), "seg_samples", 32000),
    (dict(hop_duration=0.00001), "hop_samples", 0),
    (dict(padding_samples=0), "padding_samples", 0),
])
def test_sample_counts_truncate_toward_zero(kwargs, field, expected):
    value = getattr(CSSProcessor(None, None, **kwargs), field)
    assert value == expected and type(value) is int


def test_docstrings():
    assert CSSProcessor.__doc__ == "连续语音分离处理器"
    init = inspect.getdoc(CSSProcessor.__init__).splitlines()
    assert init[:3] == ["初始化CSS处理器", "", "Args:"]
    assert init[3] == "    separation_model: 分离模型"
    assert init[9] == "    sisdr_threshold: 判断有效说话人的SI-SDR阈值"
    assert init[-1] == "    segments_save_dir: 分离片段保存目录"
    assert len(init) == 3 + 11
    assert inspect.getdoc(CSSProcessor.process) == "处理完整的混合音频"
    stitch = inspect.getdoc(CSSProcessor._stitch_global_streams).splitlines()
    assert stitch == ["拼接全局说话人音频流", "", "Args:", "    segment_results: 每个片段的处理结果",
                      "    total_samples: 总采样点数", "", "Returns:", "    global_streams: 每个全局说话人的完整音频流"]


@pytest.mark.parametrize("args, kwargs", [
    ((), {}),
    ((None,), {}),
    ((None,) * 13, {}),
    ((None, None), {"window": 3}),
])
def test_constructor_argument_errors(args, kwargs):
    with pytest.raises(TypeError):
        CSSProcessor(*args, **kwargs)


# ---------------------------------------------------------------- window frame

def windows_seen(network, total, padding):
    # The mixture is 1..total scaled into (0, 1], so each input reveals its window.
    spans = []
    for x in network.inputs:
        middle = x[0, padding:x.shape[1] - padding].double().numpy()
        real = np.flatnonzero(middle)
        start = int(round(middle[0] * total)) - 1
        spans.append((start, start + real.size))
    return spans


@pytest.mark.parametrize("total, windows", [
    (19200, []),
    (19201, [(0, 19201)]),
    (38400, [(0, 38400)]),
    (38401, [(0, 38400), (19200, 38401)]),
    (57601, [(0, 38400), (19200, 57600), (38400, 57601)]),
    (160000, [(i * 19200, i * 19200 + 38400) for i in range(7)] + [(134400, 160000)]),
])
def test_window_layout_at_defaults(capsys, total, windows):
    tracker = silent_tracker()
    network = ScriptedNetwork(mixture_copies, padding=9600)
    mix = np.arange(1, total + 1, dtype=np.float64) / total
    before = mix.copy()

    streams, records = CSSProcessor(network, tracker).process(mix)

    assert (streams, records) == ({}, [])
    assert windows_seen(network, total, 9600) == windows
    assert all(x.shape == (1, 57600) and x.dtype == torch.float32 for x in network.inputs)
    assert network.max_speakers == [4] * len(windows)
    assert tracker.names()[0] == "reset"
    lines = capsys.readouterr().out.split("\n")
    assert lines[0] == "总计 %d 个片段需要处理" % len(windows)
    headers = [line for line in lines if line.startswith("片段 ")]
    assert headers == ["片段 %d/%d: 位置 [%.2fs - %.2fs]" % (i + 1, len(windows), s / 16000, e / 16000)
                       for i, (s, e) in enumerate(windows)]
    # Every header is preceded by an empty line.
    assert all(lines[lines.index(h) - 1] == "" for h in headers)
    np.testing.assert_array_equal(mix, before)


@pytest.mark.parametrize("layout", [np.asarray, lambda x: x[::-1].copy()[::-1], unaligned_copy, packed_field,
                                    lambda x: x.astype(np.float32)], ids=["contiguous", "reversed", "unaligned",
                                                                          "packed", "float32"])
def test_network_input_keeps_margins_and_window_values(layout):
    network = ScriptedNetwork(mixture_copies, padding=100)
    rng = np.random.default_rng(0)
    mix = layout(rng.standard_normal(650))   # windows (0, 400), (200, 600), (400, 650)
    p = CSSProcessor(network, silent_tracker(), **SMALL_WINDOWS)
    p.process(mix)
    last = network.inputs[-1][0].numpy()
    assert last.shape == (600,)
    np.testing.assert_array_equal(last[:100], 0)
    np.testing.assert_array_equal(last[100:350], mix[400:650].astype(np.float32))
    np.testing.assert_array_equal(last[350:], 0)


def test_windows_run_without_grad_and_mode_comes_back():
    network = ScriptedNetwork(mixture_copies, padding=100)
    p = CSSProcessor(network, silent_tracker(), **SMALL_WINDOWS)
    p.process(np.sin(np.arange(1000, dtype=np.float32)))
    assert network.grad_enabled and not any(network.grad_enabled)
    assert torch.is_grad_enabled()


def test_network_failure_reaches_caller_and_restores_grad_mode():
    class Broken(Exception):
        pass

    def fail(mixture, max_speakers):
        raise Broken("network down")

    with pytest.raises(Broken, match="network down"):
        CSSProcessor(fail, silent_tracker()).process(np.zeros(40000))
    assert torch.is_grad_enabled()


@pytest.mark.parametrize("result, error, message", [
    ((torch.zeros(1, 4, 57600),), ValueError, r"not enough values to unpack \(expected 2, got 1\)"),
    ((None, torch.zeros(1, 4, 57600), None), ValueError, r"too many values to unpack \(expected 2\)"),
    (7, TypeError, "cannot unpack non-iterable int object"),
])
def test_network_result_must_unpack_into_two(result, error, message):
    with pytest.raises(error, match=message):
        CSSProcessor(lambda m, k: result, silent_tracker()).process(np.zeros(40000))


def test_zero_hop_fails_before_reset_and_before_printing(capsys):
    tracker = silent_tracker()
    p = CSSProcessor(ScriptedNetwork(mixture_copies, 9600), tracker, hop_duration=0.00001)
    with pytest.raises(ZeroDivisionError):
        p.process(np.zeros(40000))
    assert tracker.calls == []
    assert capsys.readouterr().out == ""


@pytest.mark.parametrize("mix, error", [
    (object(), TypeError),                              # no length
    ([0.0] * 40000, TypeError),                         # not an array
    (np.zeros(40000, dtype=np.int16), TypeError),
    (np.zeros((40000, 2)), ValueError),
])
def test_mix_must_be_a_float_array(mix, error):
    with pytest.raises(error):
        CSSProcessor(ScriptedNetwork(mixture_copies, 9600), silent_tracker()).process(mix)


def test_every_call_starts_from_a_fresh_store():
    tracker = FakeTracker()
    tracker.calls.clear()
    network = ScriptedNetwork(mixture_copies, padding=100)
    p = CSSProcessor(network, tracker, **SMALL_WINDOWS)
    mix = np.sin(np.arange(800) / 3.0)
    first = [r["global_ids"] for r in p.process(mix)[1]]
    tracker.labels[123.0] = 7      # a speaker left over from another recording
    second = [r["global_ids"] for r in p.process(mix)[1]]
    assert tracker.names().count("reset") == 2
    assert first == second and first[0] == [0]


def test_stitching_goes_through_the_instance():
    calls = []

    class Recording(CSSProcessor):
        def _stitch_global_streams(self, segment_results, total_samples):
            calls.append((segment_results, total_samples))
            return "streams"

    tracker = FakeTracker()
    p = Recording(ScriptedNetwork(mixture_copies, 100), tracker, **SMALL_WINDOWS)
    streams, records = p.process(np.sin(np.arange(500) / 3.0))
    assert streams == "streams"
    assert calls[0][0] is records and calls[0][1] == 500 and type(calls[0][1]) is int


def test_module_functions_are_exported():
    for name in ("CSSProcessor", "calculate_sisdr", "Calculate_Scale", "load_checkpoint_for_inference",
                 "ensure_dir"):
        assert hasattr(leadvoice, name), name
