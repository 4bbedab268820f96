"""Cross-window speaker matching: the decision ladder, new ids and the console report."""
import math

import numpy as np
import pytest

import leadvoice
from leadvoice import SpeakerTracker


def at_similarity(sim):
    """A unit vector whose cosine with [1, 0] is `sim`."""
    return np.array([sim, math.sqrt(1.0 - sim * sim)])


E0 = np.array([1.0, 0.0])
E1 = np.array([0.0, 1.0])


def lines(capsys):
    return capsys.readouterr().out.splitlines()


def test_empty_store_creates_ids_and_skips_poor_signals(tracker, capsys):
    a, b = E0.copy(), E1.copy()
    ids, matrix = tracker.match_speakers_between_segments([a, b], [-20.0, 5.0])
    assert ids == [0, -1]
    assert matrix.shape == (0,) and matrix.dtype == np.float64
    assert tracker.num_global_speakers == 1 and tracker.global_speaker_embeddings[0] is a
    assert lines(capsys) == [
        "    [调试] 全局说话人库中共有 0 个说话人: []",
        "    [跳过创建] 说话人1分离质量差（max_inter_sisdr=5.0dB），不创建新说话人",
    ]


def test_empty_store_ignores_none_and_shortness(tracker, capsys):
    ids, _ = tracker.match_speakers_between_segments([None, E0, E1], [-10.0, -10.0, -30.0], [1, 1, 1])
    assert ids == [-1, 0, 1]
    assert lines(capsys) == ["    [调试] 全局说话人库中共有 0 个说话人: []"]


def test_no_signals_and_empty_store(tracker, capsys):
    ids, matrix = tracker.match_speakers_between_segments([])
    assert ids == [] and matrix.shape == (0,)
    assert lines(capsys) == ["    [调试] 全局说话人库中共有 0 个说话人: []"]


def test_no_signals_against_a_store(tracker, capsys):
    tracker.initialize_first_segment([E0, E1])
    ids, matrix = tracker.match_speakers_between_segments([])
    assert ids == [] and matrix.shape == (0, 2) and matrix.dtype == np.float64
    assert lines(capsys) == [
        "    [调试] 全局说话人库中共有 2 个说话人: [0, 1]",
        "    [调试] 相似度矩阵 (当前0人 x 全局2人):",
    ]


def test_full_report_of_a_window(tracker, capsys):
    a, b = np.array([1.0, 0.0, 0.0]), np.array([0.0, 1.0, 0.0])
    tracker.initialize_first_segment([a, b])
    # signal 0 matches speaker 0 and updates it; signal 1 is poorly separated
    # and between the bars (forced onto speaker 1); signal 2 has no embedding.
    s0 = np.array([0.9, 0.0, math.sqrt(1 - 0.81)])
    s1 = np.array([0.0, 0.3, math.sqrt(1 - 0.09)])
    ids, matrix = tracker.match_speakers_between_segments([s0, s1, None], [float("-inf"), 5.0, -20.0],
                                                          [16000, 16000, 16000])
    assert ids == [0, 1, -1]
    np.testing.assert_allclose(matrix, [[0.9, 0.0], [0.0, 0.3], [0.0, 0.0]], atol=1e-12)
    assert lines(capsys) == [
        "    [调试] 全局说话人库中共有 2 个说话人: [0, 1]",
        "    [调试] 相似度矩阵 (当前3人 x 全局2人):",
        "           当前说话人0: [spk0:0.900, spk1:0.000], 分离质量=-infdB, 语音时长=1.00s",
        "           当前说话人1: [spk0:0.000, spk1:0.300], 分离质量=5.0dB, 语音时长=1.00s",
        "           当前说话人2: [spk0:0.000, spk1:0.000], 分离质量=-20.0dB, 语音时长=1.00s",
        "    当前说话人0 匹配到全局说话人0，相似度: 0.900（更新embedding）",
        "    当前说话人1 强制匹配到全局说话人1（分离质量差:5.0dB，相似度0.300 >= 低阈值0.22，不更新embedding）",
    ]
    assert list(tracker.global_speaker_embedding_history) == [0]


def test_low_quality_match_is_not_updated(tracker, capsys):
    tracker.initialize_first_segment([E0])
    stored = tracker.global_speaker_embeddings[0]
    ids, _ = tracker.match_speakers_between_segments([at_similarity(0.95)], [-5.0], [20000])
    assert ids == [0]
    assert tracker.global_speaker_embeddings[0] is stored
    assert lines(capsys)[-1] == "    当前说话人0 匹配到全局说话人0，相似度: 0.950（分离质量差，不更新embedding）"


def test_reliable_signal_below_the_bar_becomes_a_new_speaker(tracker, capsys):
    tracker.initialize_first_segment([E0])
    signal = at_similarity(0.3)
    ids, _ = tracker.match_speakers_between_segments([signal], [-20.0], [20000])
    assert ids == [1] and tracker.global_speaker_embeddings[1] is signal
    assert lines(capsys)[-2:] == [
        "    当前说话人0 与最佳匹配全局说话人0相似度 0.300 低于阈值 0.60，embedding可靠，标记为新说话人",
        "    当前说话人0 创建为新全局说话人1（embedding可靠）",
    ]


def test_unreliable_signal_below_the_low_bar_is_skipped(tracker, capsys):
    tracker.initialize_first_segment([E0])
    ids, _ = tracker.match_speakers_between_segments([at_similarity(0.1)], [3.0], [4000])
    assert ids == [-1] and tracker.num_global_speakers == 1
    assert lines(capsys)[-2:] == [
        "    当前说话人0 跳过（分离质量差:3.0dB, 语音过短:0.25s，相似度0.100 < 低阈值0.17，embedding不可靠，不创建新说话人）",
        "    当前说话人0 不创建新说话人（分离质量差:3.0dB, 语音过短:0.25s，embedding不可靠）",
    ]


@pytest.mark.parametrize("sim, samples, matched", [
    (0.6 - 0.5e-6, 12800, True),    # within the one-millionth allowance
    (0.6 - 2e-6, 12800, False),
    (0.56, 12799, True),            # short speech lowers the bar to 0.55
    (0.56, 12800, False),           # exactly the short limit is not short
    (0.54, 12799, False),
])
def test_similarity_bar(tracker, capsys, sim, samples, matched):
    tracker.initialize_first_segment([E0])
    ids, _ = tracker.match_speakers_between_segments([at_similarity(sim)], [-20.0], [samples])
    out = capsys.readouterr().out
    assert (" 匹配到全局说话人0，" in out) is matched
    if not matched:
        # A short signal is unreliable: it is forced onto the speaker instead.
        assert ids == ([1] if samples >= 12800 else [0])


def test_short_speech_drop_shows_in_the_thresholds(tracker, capsys):
    tracker.initialize_first_segment([E0])
    tracker.match_speakers_between_segments([at_similarity(0.1)], None, [1600])
    assert "语音过短:0.10s，相似度0.100 < 低阈值0.17" in capsys.readouterr().out


def test_unpaired_signals_wait_for_the_new_speaker_pass(tracker, capsys):
    tracker.initialize_first_segment([E0, E1])
    third = np.array([-1.0, -1.0]) / math.sqrt(2)
    ids, _ = tracker.match_speakers_between_segments([E0.copy(), third, E1.copy()], [-20.0, -20.0, -20.0])
    assert ids == [0, 2, 1]
    assert lines(capsys)[-1] == "    当前说话人1 创建为新全局说话人2（embedding可靠）"
    # Unreliable unpaired signal: the no-new-speaker line only.
    ids, _ = tracker.match_speakers_between_segments([E0.copy(), E1.copy(), third, at_similarity(0.5)],
                                                     [-20.0, -20.0, -20.0, 5.0])
    assert ids[3] == -1
    assert lines(capsys)[-1] == "    当前说话人3 不创建新说话人（分离质量差:5.0dB，embedding不可靠）"


def test_two_signals_competing_for_one_speaker(tracker, capsys):
    tracker.initialize_first_segment([E0, E1])
    ids, _ = tracker.match_speakers_between_segments([at_similarity(0.99), at_similarity(0.98)])
    # Only one can take speaker 0; the other gets speaker 1 at its (low) similarity.
    assert ids[0] == 0 and ids[1] == 2


def test_optional_lists_shorter_or_absent(tracker, capsys):
    tracker.initialize_first_segment([E0])
    ids, _ = tracker.match_speakers_between_segments([at_similarity(0.9), None], [], None)
    out = lines(capsys)
    assert out[2] == "           当前说话人0: [spk0:0.900]"
    assert out[3] == "           当前说话人1: [spk0:0.000]"
    assert ids == [0, -1]
    tracker.reset()
    tracker.initialize_first_segment([E0])
    tracker.match_speakers_between_segments([at_similarity(0.9), at_similarity(0.1)], [-20.0], [20000])
    out = lines(capsys)
    assert out[3] == "           当前说话人1: [spk0:0.100]"


def test_collaborators_are_looked_up_at_call_time(tracker, capsys, monkeypatch):
    calls = []

    class Spy(SpeakerTracker):
        def _update_embedding(self, *args):
            calls.append(args)
            return False

    spy = Spy()
    spy.initialize_first_segment([E0])
    signal = at_similarity(0.9)
    spy.match_speakers_between_segments([signal], None)
    assert len(calls) == 1 and calls[0][0] == 0 and calls[0][1] is signal and calls[0][2] is None
    assert "（分离质量差，不更新embedding）" in capsys.readouterr().out

    solved = []
    real_solver = leadvoice.linear_sum_assignment
    monkeypatch.setattr(leadvoice, "linear_sum_assignment", lambda cost: solved.append(cost) or real_solver(cost))
    pairs = []
    real = leadvoice.cosine_similarity
    monkeypatch.setattr(leadvoice, "cosine_similarity", lambda a, b: pairs.append(1) or real(a, b))
    tracker.initialize_first_segment([E0, E1])
    tracker.match_speakers_between_segments([E0, None, E1])
    assert len(pairs) == 4
    assert len(solved) == 1 and solved[0].shape == (3, 2)


def test_non_finite_embedding_is_treated_as_missing(tracker, capsys):
    tracker.initialize_first_segment([E0])
    ids, matrix = tracker.match_speakers_between_segments([np.array([np.nan, 0.0])])
    assert ids == [-1] and matrix.tolist() == [[0.0]]
    assert tracker.num_global_speakers == 1


def test_wrong_argument_count(tracker):
    with pytest.raises(TypeError):
        tracker.match_speakers_between_segments()
    with pytest.raises(TypeError):
        tracker.match_speakers_between_segments([], None, None, None)


@pytest.mark.parametrize("pairs, error", [
    ((np.array([0, 3]), np.array([0, 1])), ValueError),    # a row the matrix does not have
    ((np.array([0]), np.array([-1])), ValueError),          # nor a column before the first
    ((np.array([0, 1]), np.array([0])), TypeError),         # rows and columns of different counts
])
def test_solver_result_outside_the_matrix_is_refused(tracker, capsys, monkeypatch, pairs, error):
    tracker.initialize_first_segment([E0, E1])
    stored = dict(tracker.global_speaker_embeddings)
    monkeypatch.setattr(leadvoice, "linear_sum_assignment", lambda cost: pairs)
    with pytest.raises(error):
        tracker.match_speakers_between_segments([E0.copy(), E1.copy()])
    assert tracker.num_global_speakers == 2
    assert all(tracker.global_speaker_embeddings[k] is v for k, v in stored.items())
