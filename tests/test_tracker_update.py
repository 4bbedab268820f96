"""Embedding update strategies of SpeakerTracker._update_embedding."""
import numpy as np
import pytest

STRATEGIES = ["no_update", "replace", "ema", "history_mean", "ema_with_history", "bogus"]


def with_speaker(tracker, vector, strategy):
    tracker.embedding_update_strategy = strategy
    old = np.array(vector, dtype=np.float64)
    tracker.initialize_first_segment([old])
    return old


@pytest.mark.parametrize("strategy", STRATEGIES)
@pytest.mark.parametrize("quality", [None, 5.0])
def test_unknown_id_is_refused_before_anything(tracker, strategy, quality):
    with_speaker(tracker, [1.0, 0.0], strategy)
    assert tracker._update_embedding(7, np.array([0.0, 1.0]), quality) is False


@pytest.mark.parametrize("quality, accepted", [
    (-10.0, True), (-10.5, True), (-9.5, False), (None, True), (float("-inf"), True), (float("nan"), True),
])
def test_quality_gate(tracker, quality, accepted):
    old = with_speaker(tracker, [1.0, 0.0], "replace")
    new = np.array([0.0, 1.0])
    assert tracker._update_embedding(0, new, quality) is accepted
    assert tracker.global_speaker_embeddings[0] is (new if accepted else old)


def test_refused_invalid_strategy_changes_nothing_and_accepted_one_raises(tracker):
    old = with_speaker(tracker, [1.0, 0.0], "bogus")
    assert tracker._update_embedding(0, np.array([0.0, 1.0]), 3.0) is False
    with pytest.raises(ValueError, match="^未知的embedding更新策略: bogus$"):
        tracker._update_embedding(0, np.array([0.0, 1.0]))
    assert tracker.global_speaker_embeddings[0] is old
    assert tracker.global_speaker_embedding_history == {}


def test_no_update_and_replace(tracker):
    old = with_speaker(tracker, [1.0, 0.0], "no_update")
    assert tracker._update_embedding(0, np.array([0.0, 1.0])) is False
    assert tracker.global_speaker_embeddings[0] is old
    tracker.embedding_update_strategy = "replace"
    new = np.array([0.0, 3.0])
    assert tracker._update_embedding(global_id=0, new_embedding=new) is True
    assert tracker.global_speaker_embeddings[0] is new
    assert tracker.global_speaker_embedding_history == {}


@pytest.mark.parametrize("strategy, old, new, stored, history", [
    ("ema", [1, 0], [0, 1], [0.9191, 0.3939], None),
    ("history_mean", [1, 0], [0, 1], [0.7071, 0.7071], [[1, 0], [0, 1]]),
    ("ema_with_history", [2, 0], [0, 2], [0.9848, 0.1738], [[2, 0], [1.4, 0.6]]),
])
def test_first_update_of_each_blending_strategy(tracker, strategy, old, new, stored, history):
    old_vec = with_speaker(tracker, old, strategy)
    new_vec = np.array(new, dtype=np.float64)
    assert tracker._update_embedding(0, new_vec) is True
    result = tracker.global_speaker_embeddings[0]
    np.testing.assert_allclose(result, stored, atol=5e-5)
    assert result is not old_vec and result is not new_vec
    np.testing.assert_array_equal(old_vec, old)  # never changed in place
    np.testing.assert_array_equal(new_vec, new)
    if history is None:
        assert tracker.global_speaker_embedding_history == {}
    else:
        entries = tracker.global_speaker_embedding_history[0]
        assert entries[0] is old_vec
        np.testing.assert_allclose(np.array(entries), history)


def test_ema_with_history_blends_with_the_stored_mean(tracker):
    with_speaker(tracker, [2.0, 0.0], "ema_with_history")
    tracker._update_embedding(0, np.array([0.0, 2.0]))
    stored = tracker.global_speaker_embeddings[0].copy()
    tracker._update_embedding(0, np.array([0.0, 1.0]))
    expected_entry = 0.3 * np.array([0.0, 1.0]) + 0.7 * stored
    np.testing.assert_allclose(tracker.global_speaker_embedding_history[0][-1], expected_entry)


@pytest.mark.parametrize("cap, lengths", [
    (40, [2, 3, 4]), (3, [2, 3, 3, 3]), (1, [1, 1, 1]), (0, [1, 1]), (-2, [1, 1]),
])
def test_history_cap_drops_one_oldest_entry_per_update(tracker, cap, lengths):
    with_speaker(tracker, [1.0, 0.0], "history_mean")
    tracker.max_embedding_history = cap
    rng = np.random.default_rng(0)
    for expected in lengths:
        new = rng.standard_normal(2)
        tracker._update_embedding(0, new)
        entries = tracker.global_speaker_embedding_history[0]
        assert len(entries) == expected
        assert entries[-1] is new
    if lengths[-1] == 1:
        np.testing.assert_allclose(tracker.global_speaker_embeddings[0], new / (np.linalg.norm(new) + 1e-8))


def test_zero_mean_stores_zero_vector(tracker):
    with_speaker(tracker, [1.0, -1.0], "history_mean")
    tracker._update_embedding(0, np.array([-1.0, 1.0]))
    np.testing.assert_array_equal(tracker.global_speaker_embeddings[0], [0.0, 0.0])


def test_float32_embeddings_stay_float32(tracker):
    tracker.embedding_update_strategy = "ema"
    tracker.initialize_first_segment([np.ones(4, np.float32)])
    tracker._update_embedding(0, np.zeros(4, np.float32) + 0.5)
    assert tracker.global_speaker_embeddings[0].dtype == np.float32


@pytest.mark.parametrize("strategy", ["replace", "ema", "history_mean", "ema_with_history"])
def test_non_finite_embedding_is_never_stored(tracker, strategy):
    old = with_speaker(tracker, [1.0, 0.0], strategy)
    assert tracker._update_embedding(0, np.array([np.nan, 1.0])) is False
    assert tracker.global_speaker_embeddings[0] is old
    assert tracker.global_speaker_embedding_history == {}


def test_argument_count_and_length_mismatch(tracker):
    with_speaker(tracker, [1.0, 0.0], "ema")
    with pytest.raises(TypeError):
        tracker._update_embedding(0)
    with pytest.raises(TypeError):
        tracker._update_embedding(0, np.ones(2), None, 1)
    with pytest.raises(ValueError):
        tracker._update_embedding(0, np.ones(3))
