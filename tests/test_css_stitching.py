import numpy as np
import pytest

from leadvoice import CSSProcessor


def processor(seg=10, hop=5):
    # At 1000 Hz the durations give exactly `seg` and `hop` samples.
    return CSSProcessor(None, None, sample_rate=1000, seg_duration=seg / 1000, hop_duration=hop / 1000)


def record(seg_idx, start, end, ids, signals):
    return {"seg_idx": seg_idx, "start_sample": start, "end_sample": end,
            "separated_signals": [np.asarray(s, dtype=np.float32) for s in signals], "global_ids": ids,
            "embeddings": [None] * len(ids), "similarity_matrix": None}


def ramp(n, up=True):
    return np.linspace(0, 1, n) if up else np.linspace(1, 0, n)


rng = np.random.default_rng(7)
S = [rng.uniform(0.5, 1.0, 10).astype(np.float32) for _ in range(4)]


@pytest.mark.parametrize("records", [
    [],
    [record(0, 0, 10, [-1], [S[0]]), record(1, 5, 15, [-1, -1], [S[1], S[2]])],
])
def test_no_speaker_no_stream(records):
    assert processor()._stitch_global_streams(records, 20) == {}


def test_single_window_is_copied_exactly():
    streams = processor()._stitch_global_streams([record(0, 2, 12, [0], [S[0]])], 20)
    assert list(streams) == [0]
    stream = streams[0]
    assert stream.dtype == np.float32 and stream.shape == (20,)
    np.testing.assert_array_equal(stream[2:12], S[0])
    np.testing.assert_array_equal(stream[:2], 0)
    np.testing.assert_array_equal(stream[12:], 0)


def test_shared_speaker_is_cross_faded():
    streams = processor()._stitch_global_streams(
        [record(0, 0, 10, [0], [S[0]]), record(1, 5, 15, [0], [S[1]])], 15)
    t = ramp(5)
    np.testing.assert_allclose(streams[0][5:10], S[0][5:] * (1 - t) + S[1][:5] * t, rtol=1e-6)
    np.testing.assert_array_equal(streams[0][:5], S[0][:5])
    np.testing.assert_allclose(streams[0][10:], S[1][5:], rtol=1e-6)


def test_speaker_alone_in_a_faded_stretch_keeps_full_level_but_the_zero_weight_sample():
    # Speaker 0 only in window 0, speaker 1 only in window 1; neither window is faded where it stands alone...
    streams = processor()._stitch_global_streams(
        [record(0, 0, 10, [0], [S[0]]), record(1, 5, 15, [1], [S[1]]), record(2, 10, 20, [-1], [S[2]])], 20)
    # ...except where the ramp itself is 0: the fade-out's last sample and the fade-in's first.
    np.testing.assert_allclose(streams[0][:9], S[0][:9], rtol=1e-6)
    assert streams[0][9] == 0.0
    assert streams[1][5] == 0.0 and streams[1][14] == 0.0      # window 1 is faded at both ends
    np.testing.assert_allclose(streams[1][6:14], S[1][1:9], rtol=1e-6)


def test_first_record_after_window_0_is_faded_in_and_last_record_is_not_faded_out():
    streams = processor()._stitch_global_streams([record(3, 15, 25, [0], [S[0]])], 40)
    stream = streams[0]
    assert stream[15] == 0.0
    np.testing.assert_allclose(stream[16:25], S[0][1:], rtol=1e-6)
    assert stream[24] == S[0][9]          # the last record carries full weight to its end


def test_short_last_window_is_cut_to_its_span():
    streams = processor()._stitch_global_streams(
        [record(0, 0, 10, [0], [S[0]]), record(1, 5, 12, [0], [S[1]])], 12)
    stream = streams[0]
    t = ramp(5)
    np.testing.assert_allclose(stream[5:10], S[0][5:] * (1 - t) + S[1][:5] * t, rtol=1e-6)
    np.testing.assert_allclose(stream[10:12], S[1][5:7], rtol=1e-6)


def test_no_overlap_leaves_windows_whole_and_gaps_silent():
    streams = processor(seg=10, hop=12)._stitch_global_streams(
        [record(0, 0, 10, [0], [S[0]]), record(1, 12, 22, [0], [S[1]])], 22)
    np.testing.assert_array_equal(streams[0][:10], S[0])
    np.testing.assert_array_equal(streams[0][10:12], 0)
    np.testing.assert_array_equal(streams[0][12:], S[1])


def test_overlap_of_one_sample():
    # linspace(0, 1, 1) is [0.0] and linspace(1, 0, 1) is [1.0].
    streams = processor(seg=10, hop=9)._stitch_global_streams(
        [record(0, 0, 10, [0], [S[0]]), record(1, 9, 19, [0], [S[1]]), record(2, 18, 19, [-1], [S[2]])], 19)
    np.testing.assert_array_equal(streams[0][:10], S[0])      # the shared sample only had window 0's weight
    np.testing.assert_allclose(streams[0][10:19], S[1][1:], rtol=1e-6)


def test_dense_windows_give_the_weighted_mean_with_meeting_ramps():
    # hop < seg / 2: windows of 10 with ramps of 7, the fade-out overwriting the fade-in.
    seg, hop, overlap = 10, 3, 7
    records = [record(i, i * hop, i * hop + seg, [0], [S[i]]) for i in range(4)]
    streams = processor(seg, hop)._stitch_global_streams(records, 3 * hop + seg)
    num = np.zeros(19)
    den = np.zeros(19)
    for i, r in enumerate(records):
        w = np.ones(seg)
        if i > 0:
            w[:overlap] = ramp(overlap)
        if i < 3:
            w[seg - overlap:] = ramp(overlap, up=False)
        num[i * hop:i * hop + seg] += w * S[i]
        den[i * hop:i * hop + seg] += w
    expected = np.where(den > 0, num / np.where(den > 0, den, 1), 0)
    np.testing.assert_allclose(streams[0], expected, rtol=1e-5, atol=1e-6)


def test_one_id_twice_in_a_record_gives_the_mean():
    streams = processor()._stitch_global_streams([record(0, 0, 10, [0, 0], [S[0], S[1]])], 10)
    np.testing.assert_allclose(streams[0], (S[0] + S[1]) / 2, rtol=1e-6)


def test_keys_come_in_ascending_order():
    records = [record(0, 0, 10, [2, -1], [S[0], S[1]]), record(1, 5, 15, [0, 1], [S[2], S[3]])]
    assert list(processor()._stitch_global_streams(records, 15)) == [0, 1, 2]


def test_float64_signals_give_float32_streams():
    r = record(0, 0, 10, [0], [S[0]])
    r["separated_signals"] = [S[0].astype(np.float64) / 3]
    stream = processor()._stitch_global_streams([r], 10)[0]
    assert stream.dtype == np.float32
    np.testing.assert_array_equal(stream, (S[0].astype(np.float64) / 3).astype(np.float32))


@pytest.mark.parametrize("mutate, error", [
    (lambda r: r.pop("global_ids"), KeyError),
    (lambda r: r.pop("end_sample"), KeyError),
    (lambda r: r.__setitem__("global_ids", [0, 1]), IndexError),
    (lambda r: r.__setitem__("separated_signals", [list(S[0])]), TypeError),
])
def test_malformed_records_raise(mutate, error):
    r = record(0, 0, 10, [0], [S[0]])
    mutate(r)
    with pytest.raises(error):
        processor()._stitch_global_streams([r], 10)


def test_arguments_are_required():
    with pytest.raises(TypeError):
        processor()._stitch_global_streams([])
