"""IterableSeparationDataset: configuration, sharding and its draws of
speakers, rooms, impulse responses and noise segments."""
import random
import types

import numpy as np
import pytest
import soundfile as sf
import torch

import utility.blendkit as bk
from blendkit_stream_fakes import recording_random_module
from helpers import run_python

TWO = {"s1": ["a.wav", "b.wav"]}


def make(**kwargs):
    kwargs.setdefault("speakers_map", TWO)
    return bk.IterableSeparationDataset(**kwargs)


def test_class_is_an_iterable_dataset_with_its_documentation():
    cls = bk.IterableSeparationDataset
    assert issubclass(cls, torch.utils.data.IterableDataset)
    assert cls.__doc__.splitlines()[1] == "    IterableDataset，实现直接产出 batch（已经 pad 好的 batch dict），"
    methods = [k for k in cls.__dict__ if callable(cls.__dict__[k])]
    assert methods == ["__init__", "set_epoch", "_sample_speakers_and_utts", "_sample_rir_room_and_files",
                       "_sample_noise_segment", "_load_and_resample_rir", "_fft_convolve_truncate",
                       "_get_shard_info", "__iter__"]


def test_defaults_and_field_order():
    ds = make()
    assert list(vars(ds)) == [
        "speakers", "speaker_ids", "target_sr", "rir_map", "rir_rooms", "noise_files", "snr_range", "sir_range",
        "overlap_range", "snr_reference", "apply_rir_prob", "apply_noise_prob", "speaker_count_probs",
        "samples_per_epoch", "segment_seconds", "segment_samples", "seed", "epoch", "rank", "world_size",
        "_rir_cache", "_noise_cache", "batch_size"]
    assert (ds.target_sr, ds.segment_samples, ds.noise_files, ds.rir_map, ds.rir_rooms) == (16000, 48000, [], {}, [])
    assert (ds.snr_range, ds.sir_range, ds.overlap_range, ds.snr_reference) == ((0.0, 20.0), (-5.0, 5.0), (0.3, 1.0),
                                                                               "speech")
    assert (ds.epoch, ds.batch_size, ds.seed, ds.samples_per_epoch) == (0, None, 0, None)
    assert ds.speaker_count_probs == {1: 0.1, 2: 0.2, 3: 0.3, 4: 0.4}
    # One default dictionary, shared by every dataset built without one.
    assert make().speaker_count_probs is ds.speaker_count_probs


@pytest.mark.parametrize("kwargs, field, expected", [
    ({"segment_seconds": 1 / 256}, "segment_samples", 62),   # 62.5 goes to the even 62
    ({"segment_seconds": 3 / 256}, "segment_samples", 188),  # 187.5 goes to 188
    ({"target_sr": 8000.9}, "target_sr", 8000),
    ({"samples_per_epoch": 0}, "samples_per_epoch", 0),
    ({"samples_per_epoch": "12"}, "samples_per_epoch", 12),
    ({"seed": 7.9, "rank": "1", "world_size": 2.0}, "seed", 7),
    ({"apply_rir_prob": 1, "apply_noise_prob": "0.5"}, "apply_noise_prob", 0.5),
    ({"snr_reference": "target"}, "snr_reference", "target"),
])
def test_conversions(kwargs, field, expected):
    value = getattr(make(**kwargs), field)
    assert value == expected and type(value) is type(expected)


def test_speaker_map_rooms_and_noise_are_taken_as_documented():
    files_c = ["c1", "c2", "c3"]
    ds = make(speakers_map={"b": ["b1", "b2"], "a": ["a1"], "c": files_c},
              rir_map={"t1": {"r1": [], "r2": ["x.wav"]}, "t2": {}}, noise_files=("n1", "n2"))
    assert ds.speaker_ids == ["b", "c"] and list(ds.speakers) == ["b", "c"]
    assert ds.speakers["c"] is files_c
    assert ds.rir_rooms == [("t1", "r2", ["x.wav"])]
    assert ds.noise_files == ["n1", "n2"] and type(ds.noise_files) is list
    noises = ["n1"]
    ds = make(noise_files=noises)
    noises.append("n2")
    assert ds.noise_files == ["n1"]


@pytest.mark.parametrize("kwargs, error, text", [
    ({"speakers_map": None}, ValueError, "Either speakers_map or speech_root must be provided"),
    ({"speakers_map": {"a": ["1"], "b": ["2"]}}, ValueError, "No speakers with >=2 utterances found."),
    ({"speakers_map": {}}, ValueError, "No speakers with >=2 utterances found."),
    ({"snr_reference": "noise"}, AssertionError, ""),
    ({"speakers_map": None, "speech_root": "/data/corpora"}, ValueError, "speech_root"),
    ({"speakers_map": None, "speech_root": b"/data/corpora"}, ValueError, "speech_root"),
    # Arguments that were taken silently or failed far from their cause.
    ({"world_size": 0}, ValueError, "world_size must be at least 1 (the number of training processes), got 0"),
    ({"world_size": -1}, ValueError, "world_size must be at least 1"),
    ({"rank": 2, "world_size": 2}, ValueError, "rank must lie in [0, world_size) = [0, 2), got 2"),
    ({"rank": -1}, ValueError, "rank must lie in [0, world_size) = [0, 1), got -1"),
    ({"rank": 10 ** 30, "world_size": 2}, ValueError, "rank is out of range"),
    ({"segment_seconds": 0}, ValueError, "segment_seconds must be a finite length that holds at least one sample "
                                         "at 16000 Hz, got 0.0"),
    ({"segment_seconds": float("nan")}, ValueError, "segment_seconds must be a finite length"),
    ({"segment_seconds": float("inf")}, ValueError, "segment_seconds must be a finite length"),
    ({"segment_seconds": -3.0}, ValueError, "segment_seconds must be a finite length"),
    ({"segment_seconds": 1e-5}, ValueError, "got 1e-05"),
    ({"speaker_count_probs": {1: -0.1, 2: 1.0}}, ValueError,
     "speaker_count_probs weights must be finite and not negative, got -0.1"),
    ({"speaker_count_probs": {1: float("nan")}}, ValueError, "speaker_count_probs weights must be finite"),
    ({"speaker_count_probs": {1: 0.0, 2: 0}}, ValueError, "speaker_count_probs must give at least one speaker count"),
    ({"speaker_count_probs": {}}, ValueError, "speaker_count_probs must give at least one speaker count"),
    ({"speaker_count_probs": {"two": 1.0}}, ValueError, "speaker_count_probs keys must be speaker counts, got 'two'"),
    ({"speaker_count_probs": {2: "much"}}, ValueError, "speaker_count_probs weights must be numbers, got 'much'"),
    ({"speaker_count_probs": [0.5, 0.5]}, ValueError, "speaker_count_probs must map speaker counts to weights"),
    ({"target_sr": 0}, ValueError, "target_sr must be a positive sample rate in Hz, got 0"),
    ({"target_sr": -8000}, ValueError, "target_sr must be a positive sample rate in Hz, got -8000"),
    ({"target_sr": 0.5}, ValueError, "target_sr must be a positive sample rate in Hz, got 0"),
    ({"seed": -1}, ValueError, "seed must not be negative (a random stream seeded with -k is the one seeded with k), "
                               "got -1"),
])
def test_construction_errors(kwargs, error, text):
    with pytest.raises(error) as info:
        make(**kwargs)
    assert text in str(info.value)


def test_a_world_size_changed_after_construction_fails_instead_of_killing_the_interpreter(tmp_path):
    # It used to divide by zero in native code (SIGFPE), so it runs in a
    # child interpreter of its own.
    result = run_python("""
        import utility.blendkit as bk
        ds = bk.IterableSeparationDataset(speakers_map={"s": ["a.wav", "b.wav"]}, samples_per_epoch=4)
        ds.world_size = 0
        try:
            next(iter(ds))
        except ValueError as error:
            print("ValueError:", error)
        """, str(tmp_path))
    assert result.returncode == 0, result.stderr
    assert result.stdout == "ValueError: world_size must be at least 1 (the number of training processes), got 0\n"


def test_bad_snr_reference_fails_as_a_bare_assertion():
    # A failed assert carries no message at all, not an empty one.
    with pytest.raises(AssertionError) as info:
        make(snr_reference="noise")
    assert info.value.args == ()


def test_speech_roots_are_indexed_and_combined(monkeypatch, tmp_path):
    calls = []

    def find(root, *rest):
        calls.append(("find", root, rest))
        return {f"spk_{root}": [f"{root}/1.wav", f"{root}/2.wav"]}

    def combine(mappings, *rest):
        calls.append(("combine", list(mappings), rest))
        return {f"{name}_{k}": v for name, m in mappings.items() for k, v in m.items()}

    monkeypatch.setattr(bk, "find_audio_files_by_speaker", find)
    monkeypatch.setattr(bk, "combine_speaker_mappings", combine)
    ds = bk.IterableSeparationDataset(speech_root=["L", "W", "ignored"])
    assert calls == [("find", "L", ()), ("find", "W", ()), ("combine", ["libri", "wsj0"], ())]
    assert ds.speaker_ids == ["libri_spk_L", "wsj0_spk_W"]
    calls.clear()
    bk.IterableSeparationDataset(speech_root="LW", speakers_map=TWO)  # a given map wins: no indexing
    assert calls == []


def test_set_epoch_converts_and_keeps_value_on_error():
    ds = make()
    ds.set_epoch(3.0)
    assert ds.epoch == 3 and type(ds.epoch) is int
    ds.set_epoch("2")
    assert ds.epoch == 2
    with pytest.raises(ValueError):
        ds.set_epoch("x")
    assert ds.epoch == 2
    with pytest.raises(ValueError, match=r"^epoch must not be negative .*got -1$"):
        ds.set_epoch(-1.5)
    assert ds.epoch == 2


@pytest.mark.parametrize("rank, world, worker, expected", [
    (0, 1, None, (0, 1)),
    (1, 2, None, (1, 2)),
    (1, 2, (2, 3), (5, 6)),
    (0, 2, (1, 3), (2, 6)),
])
def test_shard_info(monkeypatch, rank, world, worker, expected):
    info = None if worker is None else types.SimpleNamespace(id=worker[0], num_workers=worker[1])
    monkeypatch.setattr(torch.utils.data, "get_worker_info", lambda: info)
    assert make(rank=rank, world_size=world)._get_shard_info() == expected


def test_shard_info_without_rank_fields():
    ds = make(rank=3, world_size=4)
    del ds.rank, ds.world_size
    assert ds._get_shard_info() == (0, 1)


# ---- speakers and utterances -------------------------------------------------------------------

def choice_calls(log):
    return [(name, args) for _, name, args, _, _ in log]


@pytest.mark.parametrize("speakers, num_spk", [(1, 3), (2, 4), (30, 4), (5, 0), (5, -1)])
def test_speaker_draws(speakers, num_spk):
    mapping = {f"s{k}": [f"s{k}/a", f"s{k}/b", f"s{k}/c"] for k in range(speakers)}
    ds = make(speakers_map=mapping)
    rmod = recording_random_module()
    rng = rmod.Random(5)
    picks = ds._sample_speakers_and_utts(rng, num_spk)
    log = rmod.Random.log
    assert len(picks) == max(num_spk, 0)
    # Replay the log: speaker draw, then (unless the speaker is already in
    # while unseen ones remain) its file draw.
    accepted, seen, i = [], set(), 0
    while len(accepted) < max(num_spk, 0):
        _, name, args, _, spk = log[i]
        assert name == "choice" and args[0] == ds.speaker_ids
        i += 1
        if spk in seen and len(seen) < len(ds.speaker_ids):
            continue
        _, name, args, _, path = log[i]
        assert name == "choice" and args[0] is mapping[spk]
        i += 1
        accepted.append((spk, path))
        seen.add(spk)
    assert i == len(log) and picks == accepted
    if speakers >= num_spk:
        assert len({s for s, _ in picks}) == len(picks)


def test_speaker_draw_with_emptied_index():
    ds = make()
    ds.speaker_ids = []
    with pytest.raises(ValueError, match="No speakers to sample from."):
        ds._sample_speakers_and_utts(random.Random(0), 2)
    assert ds._sample_speakers_and_utts(random.Random(0), 0) == []


def test_fill_up_phase_after_tries_run_out():
    # A stream whose speaker draws keep returning the one accepted speaker
    # spends the first phase's 100 tries; the fill-up accepts repeats.
    class Stuck:
        def __init__(self):
            self.calls = 0

        def choice(self, seq):
            self.calls += 1
            return seq[0]

    ds = make(speakers_map={"a": ["1", "2"], "b": ["3", "4"]})
    stuck = Stuck()
    assert ds._sample_speakers_and_utts(stuck, 3) == [("a", "1")] * 3
    assert stuck.calls == 2 + 99 + 4


# ---- rooms and impulse responses ----------------------------------------------------------------

@pytest.mark.parametrize("files, num, same, expected_calls", [
    (["r1", "r2"], 0, False, ["choice"]),
    (["r1", "r2"], 3, True, ["choice", "choice"]),
    (["r1", "r2"], 2, False, ["choice", "sample"]),
    (["r1", "r2"], 3, False, ["choice", "choice", "choice", "choice"]),
    ([], 2, False, ["choice"]),
])
def test_room_draws(files, num, same, expected_calls):
    ds = make(rir_map={"t": {"room": files or ["placeholder"]}})
    ds.rir_rooms = [("t", "room", files)]
    rmod = recording_random_module()
    result = ds._sample_rir_room_and_files(rmod.Random(3), num=num, same_for_all=same)
    log = rmod.Random.log
    assert [name for _, name, _, _, _ in log] == expected_calls
    if not files:
        assert result is None
        return
    assert len(result) == num
    if same:
        assert result == [log[1][4]] * num
    elif expected_calls[1:] == ["sample"]:
        assert log[1][2] == (files, num) and result == log[1][4]
    else:
        assert result == [entry[4] for entry in log[1:]]


def test_no_rooms_draws_nothing():
    rmod = recording_random_module()
    assert make()._sample_rir_room_and_files(rmod.Random(0), num=2) is None
    assert rmod.Random.log == []


@pytest.fixture
def rir_files(tmp_path):
    mono = tmp_path / "mono.wav"
    stereo = tmp_path / "stereo.wav"
    low = tmp_path / "low.wav"
    h = np.array([1.0, 0.5, -0.25, 0.125], np.float32)
    sf.write(mono, h, 16000, subtype="FLOAT")
    sf.write(stereo, np.stack([h, -h], axis=1), 16000, subtype="FLOAT")
    sf.write(low, np.tile(h, 100), 8000, subtype="FLOAT")
    return {"mono": str(mono), "stereo": str(stereo), "low": str(low), "h": h, "missing": str(tmp_path / "no.wav")}


def test_impulse_responses_are_prepared_once(rir_files, capsys):
    ds = make()
    first = ds._load_and_resample_rir(rir_files["mono"])
    assert first.dtype == np.float32 and first.flags["C_CONTIGUOUS"]
    np.testing.assert_array_equal(first, rir_files["h"])
    assert ds._load_and_resample_rir(rir_files["mono"]) is first
    np.testing.assert_array_equal(ds._load_and_resample_rir(rir_files["stereo"]), rir_files["h"])
    low = ds._load_and_resample_rir(rir_files["low"])
    assert low.size == 800
    np.testing.assert_allclose(low, bk.librosa.resample(np.tile(rir_files["h"], 100), orig_sr=8000,
                                                        target_sr=16000, res_type="kaiser_fast"))
    missing = ds._load_and_resample_rir(rir_files["missing"])
    assert missing.size == 0 and missing.dtype == np.float32
    assert ds._load_and_resample_rir(rir_files["missing"]) is missing
    out = capsys.readouterr().out.splitlines()
    assert len(out) == 1 and out[0].startswith("[Warning] sf.read failed for " + rir_files["missing"] + ": ")


def test_failed_rir_resampling_keeps_own_rate_and_warns_once(rir_files, monkeypatch, capsys):
    def refuse(y, **kwargs):
        raise ValueError("no resampling today")

    monkeypatch.setattr(bk, "librosa", types.SimpleNamespace(resample=refuse))
    ds = make()
    rir = ds._load_and_resample_rir(rir_files["low"])
    assert rir.size == 400 and ds._load_and_resample_rir(rir_files["low"]) is rir
    assert capsys.readouterr().out == f"[Warning] failed resample RIR {rir_files['low']}: no resampling today\n"


def test_convolution_method_truncates_to_the_signal():
    ds = make()
    out = ds._fft_convolve_truncate(np.array([1.0, 2.0, 3.0]), np.array([0.0, 1.0]))
    np.testing.assert_allclose(out, [0.0, 1.0, 2.0], atol=1e-6)
    assert out.dtype == np.float32
    assert ds._fft_convolve_truncate(np.ones(3, np.float32), np.zeros(0, np.float32)).size == 0


# ---- noise segments ----------------------------------------------------------------------------

@pytest.mark.parametrize("noise_len, class_sec, expected_draws", [
    (3125, 1.0, [("randrange", (3,)), ("randint", (0, 700))]),   # three regions of 1000
    (1990, 1.0, [("randrange", (1,)), ("randint", (0, 700))]),   # one whole region, tail unused
    (625, 1.0, [("randrange", (1,)), ("randint", (0, 325))]),
    (300, 1.0, [("randrange", (1,))]),                           # exactly one segment: no offset
    (301, 1.0, [("randrange", (1,)), ("randint", (0, 1))]),
    (125, 1.0, [("randrange", (1,))]),                           # shorter: repeated
    (2000, 0.0, [("randrange", (6,))]),                          # regions fall back to the segment length
    (0, 1.0, []),
])
def test_noise_segment(noise_len, class_sec, expected_draws):
    ds = make(target_sr=1000, segment_seconds=0.3)
    noise = np.arange(1, noise_len + 1, dtype=np.float64)
    before = noise.copy()
    rmod = recording_random_module()
    seg = ds._sample_noise_segment(noise, rmod.Random(2), class_duration_sec=class_sec)
    log = rmod.Random.log
    assert [(name, args) for _, name, args, _, _ in log] == expected_draws
    assert seg.dtype == np.float32 and seg.size == 300
    np.testing.assert_array_equal(noise, before)
    if not expected_draws:
        assert not seg.any()
        return
    region = 1000 if class_sec > 0 else 300
    begin = log[0][4] * region
    region_len = min(region, noise_len - begin)
    start = log[1][4] if len(log) > 1 else 0
    expected = np.resize(noise[begin:begin + region_len], max(region_len, 300))[start:start + 300]
    np.testing.assert_array_equal(seg, expected.astype(np.float32))
    assert not np.shares_memory(seg, noise)


def test_noise_segment_of_nothing():
    ds = make(target_sr=1000, segment_seconds=0.3)
    rmod = recording_random_module()
    assert not ds._sample_noise_segment(None, rmod.Random(0)).any()
    assert rmod.Random.log == []
