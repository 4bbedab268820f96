import numpy as np
import pytest

import leadvoice
from css_fakes import (RECORD_KEYS, SMALL_PAD as PAD, SMALL_SEG as N, SMALL_WINDOWS, FakeTracker, ScriptedNetwork,
                       tone)
from leadvoice import CSSProcessor

CYCLES = (4, 6, 8)          # signal k is a tone of CYCLES[k] cycles; its code is k + 1


def bins_of(signal):
    spectrum = np.abs(np.fft.rfft(signal))
    return frozenset(int(b) for b in np.flatnonzero(spectrum > 0.25 * spectrum.max()))


def code_of(bins):
    # {4} -> 1, {4, 6} -> 12, {4, 6, 8} -> 123: a merged signal's code names its members.
    return float("".join(str(CYCLES.index(b) + 1) for b in sorted(bins)))


class Scene:
    """One or more windows of len(signals) tones; embeddings name the tones a
    signal holds; similarities come from a table of code pairs."""

    def __init__(self, monkeypatch, count=3, sims=None, special=None, windows=1, speech=None, **kwargs):
        self.sims = {frozenset(k): v for k, v in (sims or {}).items()}
        self.special = special or {}
        self.speech = speech or {}
        monkeypatch.setattr(leadvoice, "cosine_similarity", self.cosine)
        self.tracker = FakeTracker(embed=self.embed)
        self.tracker.calls.clear()
        signals = [tone(N, c) for c in CYCLES[:count]]
        options = dict(SMALL_WINDOWS, max_speakers=count, sisdr_threshold=1e9, sisdr_threshold_prev=1e9)
        options.update(kwargs)
        self.network = ScriptedNetwork(lambda w: signals, padding=PAD)
        mix = np.tile(sum(signals)[:200], windows + 1)
        self.processor = CSSProcessor(self.network, self.tracker, **options)
        self.streams, self.records = self.processor.process(mix)

    def cosine(self, a, b):
        return self.sims.get(frozenset((float(a[0]), float(b[0]))), 0.0)

    def embed(self, signal):
        code = code_of(bins_of(signal))
        speech = self.speech.get(code, 100)
        if code in self.special:
            return self.special[code], speech
        return np.array([code]), speech

    def codes(self, record=0):
        return [code_of(bins_of(s)) for s in self.records[record]["separated_signals"]]


def merge_lines(out):
    return [line.strip() for line in out.splitlines() if "信号合并" in line]


@pytest.mark.parametrize("case", [
    dict(name="tie goes to the first pair", sims={(1, 2): 0.9, (1, 3): 0.9, (12, 3): 0.1},
         codes=[12, 3], lines=[
             "[信号合并 #1] 信号0和信号1的embedding相似度=0.900 >= 0.7，进行合并",
             "[信号合并 #1] 合并成功，当前剩余2个有效信号",
             "[信号合并检查] 最大相似度=0.100 < 阈值0.7，无需合并",
             "[信号合并完成] 共进行1次合并，最终2个有效信号"]),
    dict(name="best pair apart", sims={(1, 3): 0.8, (1, 2): 0.1, (2, 3): 0.1, (13, 2): 0.3},
         codes=[13, 2], lines=[
             "[信号合并 #1] 信号0和信号2的embedding相似度=0.800 >= 0.7，进行合并",
             "[信号合并 #1] 合并成功，当前剩余2个有效信号",
             "[信号合并检查] 最大相似度=0.300 < 阈值0.7，无需合并",
             "[信号合并完成] 共进行1次合并，最终2个有效信号"]),
    dict(name="down to one", sims={(2, 3): 0.75, (1, 23): 0.7},
         codes=[123], lines=[
             "[信号合并 #1] 信号1和信号2的embedding相似度=0.750 >= 0.7，进行合并",
             "[信号合并 #1] 合并成功，当前剩余2个有效信号",
             "[信号合并 #2] 信号0和信号1的embedding相似度=0.700 >= 0.7，进行合并",   # equal merges
             "[信号合并 #2] 合并成功，当前剩余1个有效信号",
             "[信号合并完成] 共进行2次合并，最终1个有效信号"]),
    dict(name="nothing reaches", sims={(1, 2): 0.69},
         codes=[1, 2, 3], lines=["[信号合并检查] 最大相似度=0.690 < 阈值0.7，无需合并"]),
    dict(name="sum without embedding", sims={(1, 2): 0.9}, special={12: None},
         codes=[1, 2, 3], lines=[
             "[信号合并 #1] 信号0和信号1的embedding相似度=0.900 >= 0.7，进行合并",
             "[信号合并 #1] 合并后embedding提取失败，跳过此次合并",
             "[信号合并完成] 共进行1次合并，最终3个有效信号"]),
    # A sum whose embedding is not finite must not enter the tracker either.
    dict(name="sum with nan embedding", sims={(1, 2): 0.9}, special={12: np.array([np.nan])},
         codes=[1, 2, 3], lines=[
             "[信号合并 #1] 信号0和信号1的embedding相似度=0.900 >= 0.7，进行合并",
             "[信号合并 #1] 合并后embedding提取失败，跳过此次合并",
             "[信号合并完成] 共进行1次合并，最终3个有效信号"]),
    # Every similarity at -1 selects no pair: a threshold of -1 merges nothing and loses nothing.
    dict(name="threshold -1 without a pair", threshold=-1.0,
         sims={(1, 2): -1.0, (1, 3): -1.0, (2, 3): -1.0}, codes=[1, 2, 3], lines=[]),
    dict(name="threshold below -1 without a pair", threshold=-1.5, count=2,
         sims={(1, 2): -1.0}, codes=[1, 2], lines=[]),
], ids=lambda c: c["name"])
def test_merge_sequences(monkeypatch, capsys, case):
    threshold = case.get("threshold", 0.7)
    scene = Scene(monkeypatch, count=case.get("count", 3), sims=case["sims"], special=case.get("special"),
                  merge_threshold=threshold)
    assert scene.codes() == case["codes"]
    assert [float(e[0]) for e in scene.records[0]["embeddings"]] == case["codes"]
    lines = merge_lines(capsys.readouterr().out)
    count = case.get("count", 3)
    assert lines[0] == "[信号合并检查] 开始检查%d个信号的embedding相似度（阈值=%s）" % (count, threshold)
    assert lines[1] == "[信号合并检查] 信号间embedding相似度矩阵:"
    assert lines[2:] == case["lines"]


def test_matrix_rows_show_the_full_square(monkeypatch, capsys):
    Scene(monkeypatch, sims={(1, 2): 0.812, (1, 3): 0.104, (2, 3): -1.0}, merge_threshold=0.9)
    out = capsys.readouterr().out.splitlines()
    rows = [line for line in out if line.startswith("           信号")]
    assert rows == ["           信号0: [  -  , 0.812, 0.104]",
                    "           信号1: [0.812,   -  , -1.000]",
                    "           信号2: [0.104, -1.000,   -  ]"]
    assert "（阈值=0.9）" in out[3]


def test_one_signal_prints_no_merge_lines(monkeypatch, capsys):
    scene = Scene(monkeypatch, count=1)
    assert merge_lines(capsys.readouterr().out) == []
    assert scene.codes() == [1]


def test_merged_signal_is_the_plain_sum(monkeypatch):
    scene = Scene(monkeypatch, sims={(1, 2): 0.9})
    merged = scene.records[0]["separated_signals"][0]
    originals = [c[1] for c in scene.tracker.calls if c[0] == "extract"][:2]
    assert merged.dtype == np.float32
    np.testing.assert_array_equal(merged, originals[0] + originals[1])
    assert scene.records[0]["separated_signals"][1] is [c[1] for c in scene.tracker.calls if c[0] == "extract"][2]


def test_merged_signal_carries_the_larger_quality_and_speech(monkeypatch):
    # Window 0 goes to initialize_first_segment; window 1 to the matching, which sees the values.
    speech = {1: 300, 2: 100, 3: 50, 12: 9999}
    plain = Scene(monkeypatch, windows=2, speech=speech, merge_threshold=2.0)
    merged = Scene(monkeypatch, windows=2, speech=speech, sims={(1, 2): 0.9})
    _, embeddings, quality, samples = [c for c in plain.tracker.calls if c[0] == "match"][0]
    _, merged_embeddings, merged_quality, merged_samples = [c for c in merged.tracker.calls if c[0] == "match"][0]
    assert samples == [300, 100, 50]
    assert merged_samples == [300, 50]          # not the re-embedding's own count
    assert merged_quality == [max(quality[0], quality[1]), quality[2]]
    assert [float(e[0]) for e in merged_embeddings] == [12.0, 3.0]


@pytest.mark.parametrize("bad", [np.nan, np.inf, -np.inf])
def test_embeddings_with_nan_or_inf_drop_their_signal(monkeypatch, capsys, bad):
    scene = Scene(monkeypatch, special={2: np.array([2.0, bad])})
    assert "    [警告] 信号1的embedding包含nan/inf，跳过" in capsys.readouterr().out.splitlines()
    assert scene.codes() == [1, 3]


def test_signals_without_embedding_are_dropped_silently(monkeypatch, capsys):
    scene = Scene(monkeypatch, special={1: None})
    out = capsys.readouterr().out
    assert "[警告]" not in out
    assert scene.codes() == [2, 3]


def one_tone_processor(tracker):
    """A processor whose network gives one tone of 4 cycles in every window."""
    return CSSProcessor(ScriptedNetwork(lambda w: [tone(N, 4)], PAD), tracker, max_speakers=1, **SMALL_WINDOWS)


def test_window_without_valid_signals_is_skipped(capsys):
    # Window 0 yields no embedding at all; the first record then comes from window 1.
    results = iter([(None, 0), (np.array([1.0]), 100)])
    tracker = FakeTracker(embed=lambda s: next(results))
    tracker.calls.clear()
    p = one_tone_processor(tracker)
    streams, records = p.process(np.tile(tone(N, 4)[:200], 3))
    out = capsys.readouterr().out.splitlines()
    window0 = out[out.index("片段 1/2: 位置 [0.00s - 0.40s]") + 1:out.index("片段 2/2: 位置 [0.20s - 0.60s]") - 1]
    assert window0 == ["    [跳过] 所有信号的embedding都无效，跳过该片段"]
    assert [r["seg_idx"] for r in records] == [1]
    assert records[0]["similarity_matrix"] is None
    assert tracker.names() == ["reset", "extract", "extract", "init"]
    assert "    [初始化] 创建全局说话人ID: [0]" in out
    assert list(streams) == [0]


def test_records_and_tracker_calls(monkeypatch, capsys):
    scene = Scene(monkeypatch, count=2, windows=3)
    tracker = scene.tracker
    assert tracker.names() == ["reset"] + ["extract"] * 2 + ["init"] + (["extract"] * 2 + ["match"]) * 2
    init = [c for c in tracker.calls if c[0] == "init"][0]
    matches = [c for c in tracker.calls if c[0] == "match"]
    records = scene.records
    assert [list(r) for r in records] == [RECORD_KEYS] * 3
    assert [(r["seg_idx"], r["start_sample"], r["end_sample"]) for r in records] == [
        (0, 0, 400), (1, 200, 600), (2, 400, 800)]
    # The lists go to the tracker and into the record as they are.
    assert records[0]["embeddings"] is init[1]
    assert records[1]["embeddings"] is matches[0][1]
    assert records[0]["similarity_matrix"] is None
    assert isinstance(records[2]["similarity_matrix"], np.ndarray)
    assert all(r["global_ids"] == [0, 1] for r in records)
    out = capsys.readouterr().out.splitlines()
    assert out.count("    [初始化] 创建全局说话人ID: [0, 1]") == 1
    assert out.count("    全局说话人ID: [0, 1]") == 3
    assert out.index("    [初始化] 创建全局说话人ID: [0, 1]") + 1 == out.index("    全局说话人ID: [0, 1]")
    assert sorted(scene.streams) == [0, 1]


def test_tracker_is_reached_through_attribute_lookup(monkeypatch):
    spied = []

    class Spy(leadvoice.SpeakerTracker):
        def extract_embedding_from_array(self, audio):
            spied.append(audio.size)
            return np.array([1.0, 0.0, float(len(spied))]), audio.size

    tracker = Spy()
    p = one_tone_processor(tracker)
    streams, records = p.process(np.tile(tone(N, 4)[:200], 3))
    assert spied == [N, N]
    assert [r["global_ids"] for r in records] == [[0], [0]]
    assert tracker.num_global_speakers == 1


def test_tracker_errors_reach_the_caller(monkeypatch):
    class Failing(FakeTracker):
        def match_speakers_between_segments(self, *args):
            raise ValueError("unknown update strategy")

    tracker = Failing()
    p = one_tone_processor(tracker)
    with pytest.raises(ValueError, match="unknown update strategy"):
        p.process(np.tile(tone(N, 4)[:200], 3))
