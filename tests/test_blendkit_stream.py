"""The training batch stream of IterableSeparationDataset on a small generated
corpus: reproducibility, sharding over loader workers, the order of the draws
on its random streams, and each sample checked against its own draws."""
import os
import types

import numpy as np
import pytest
import soundfile as sf
import torch

import utility.blendkit as bk
from blendkit_stream_fakes import make_corpus, make_noises, make_rirs, recording_random_module, write_tone_speech

SEGMENT = 0.25
L = 4000
RATE = 16000


@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    root = str(tmp_path_factory.mktemp("stream"))
    return types.SimpleNamespace(
        root=root,
        speakers=make_corpus(root, speakers=5, seconds=(0.35, 0.5, 0.2)),
        rirs=make_rirs(root),
        noises=make_noises(root),
    )


def dataset(corpus, **kwargs):
    options = dict(speakers_map=corpus.speakers, rir_map=corpus.rirs, noise_files=corpus.noises,
                   segment_seconds=SEGMENT, samples_per_epoch=8, seed=3)
    options.update(kwargs)
    batch_size = options.pop("batch_size", 2)
    ds = bk.IterableSeparationDataset(**options)
    ds.batch_size = batch_size
    return ds


def batches_equal(a, b):
    if a.keys() != b.keys():
        return False
    for key in a:
        if isinstance(a[key], torch.Tensor):
            if not torch.equal(a[key], b[key]):
                return False
        elif a[key] != b[key]:
            return False
    return True


def same_stream(xs, ys):
    return len(xs) == len(ys) and all(batches_equal(x, y) for x, y in zip(xs, ys))


def test_batch_layout(corpus):
    batches = list(dataset(corpus, speaker_count_probs={2: 1.0}, batch_size=4))
    assert len(batches) == 2
    b = batches[0]
    assert list(b) == ["sources", "sources_len", "mixture", "mixture_len", "num_spk", "sr", "source_ids", "paths"]
    assert b["sources"].dtype == torch.float32 and b["sources"].shape == (4, 2, L)
    assert b["sources_len"].dtype == torch.int64 and b["sources_len"].tolist() == [[L, L]] * 4
    assert b["mixture"].dtype == torch.float32 and b["mixture"].shape == (4, 1, L)
    assert b["mixture_len"].tolist() == [L] * 4
    assert b["num_spk"] == [2, 2, 2, 2] and b["sr"] == 16000
    assert list(b["paths"][0]) == ["sources", "rir_used", "noise_path", "rir_applied_batch", "noise_applied_batch"]


def test_two_runs_with_one_seed_are_identical_and_epochs_differ(corpus):
    first = list(dataset(corpus))
    assert len(first) == 4
    assert same_stream(first, list(dataset(corpus)))
    ds = dataset(corpus)
    ds.set_epoch(1)
    epoch1 = list(ds)
    assert len(epoch1) == 4 and not any(batches_equal(x, y) for x, y in zip(first, epoch1))
    ds.set_epoch(0)
    assert same_stream(first, list(ds))
    assert not same_stream(first, list(dataset(corpus, seed=4)))


@pytest.mark.parametrize("samples, batch, shards, expected", [
    (10, 4, [(0, 1)], [2]),
    (10, 2, [(0, 4), (1, 4), (2, 4), (3, 4)], [1, 1, 1, 1]),
    (10, 1, [(0, 4), (1, 4), (2, 4), (3, 4)], [3, 3, 2, 2]),
    (3, 1, [(3, 4)], [0]),
    (0, 1, [(0, 2)], [0]),
    (3, None, [(0, 1)], [3]),
    (3, -2, [(0, 1)], [3]),
])
def test_batches_per_shard(corpus, monkeypatch, samples, batch, shards, expected):
    counts = []
    for shard in shards:
        ds = dataset(corpus, samples_per_epoch=samples, batch_size=batch)
        monkeypatch.setattr(ds, "_get_shard_info", lambda shard=shard: shard)
        got = list(ds)
        assert all(len(b["num_spk"]) == max(batch or 1, 1) for b in got)
        counts.append(len(got))
    assert counts == expected


def shard_stream(corpus, monkeypatch, shard, **kwargs):
    ds = dataset(corpus, **kwargs)
    monkeypatch.setattr(ds, "_get_shard_info", lambda: shard)
    return list(ds)


def test_loader_workers_take_disjoint_shards(corpus, monkeypatch):
    ds = dataset(corpus, samples_per_epoch=10, batch_size=2)
    loader = torch.utils.data.DataLoader(ds, batch_size=None, num_workers=2)
    got = list(loader)
    expected = [shard_stream(corpus, monkeypatch, (w, 2), samples_per_epoch=10, batch_size=2) for w in (0, 1)]
    assert [len(e) for e in expected] == [2, 2]
    # The loader alternates between its workers.
    assert same_stream(got[0::2], expected[0]) and same_stream(got[1::2], expected[1])
    mixtures = [m.numpy().tobytes() for b in got for m in b["mixture"]]
    assert len(mixtures) == 8 and len(set(mixtures)) == 8
    # Worker 0 of two has the one-worker stream's seeds but half its samples.
    alone = shard_stream(corpus, monkeypatch, (0, 1), samples_per_epoch=10, batch_size=2)
    assert len(alone) == 5 and same_stream(alone[:2], expected[0])


def test_second_iteration_cannot_move_a_running_one(corpus):
    reference = list(dataset(corpus))
    ds = dataset(corpus)
    running = iter(ds)
    assert batches_equal(next(running), reference[0])
    ds.set_epoch(5)
    other = iter(ds)
    next(other)
    assert ds._batch_seed_base == 3 + 5 * 10 ** 9
    assert same_stream(list(running), reference[1:])


def test_iterator_does_nothing_before_its_first_next(corpus):
    ds = dataset(corpus)
    stream = iter(ds)
    assert not hasattr(ds, "_batch_seed_base")
    ds.seed = 4
    assert same_stream([next(stream)], list(dataset(corpus, seed=4))[:1])
    assert ds._batch_seed_base == 4


# ---- the draws of one whole batch, in order ----------------------------------------------------

def frames(path):
    return sf.info(path).frames


class Replay:
    """Walks the recorded calls of one stream, checking names and arguments."""

    def __init__(self, entries):
        self.entries = list(entries)
        self.i = 0

    def take(self, name, *args, **kwargs):
        assert self.i < len(self.entries), f"expected {name}{args}, stream ended"
        _, got_name, got_args, got_kwargs, result = self.entries[self.i]
        assert (got_name, got_args, got_kwargs) == (name, args, kwargs), f"draw {self.i}"
        self.i += 1
        return result

    def peek(self):
        return self.entries[self.i] if self.i < len(self.entries) else None

    def done(self):
        return self.i == len(self.entries)


def replay_speakers(replay, ds, n):
    picks, seen = [], set()
    while len(picks) < n:
        spk = replay.take("choice", ds.speaker_ids)
        if spk in seen:
            continue
        picks.append((spk, replay.take("choice", ds.speakers[spk])))
        seen.add(spk)
    return picks


def replay_sample_stream(replay, n, low, high):
    ref = replay.take("randint", 0, n - 1)
    windows = []
    ratios = [1.0 if i == ref else min(1.0, max(0.0, replay.take("uniform", low, high))) for i in range(n)]
    for i in range(n):
        if i == ref:
            windows.append(None)
            continue
        length = round(ratios[i] * L)
        src = 0 if length == L else replay.take("randint", 0, L - length)
        dst = 0 if length == L else replay.take("randint", 0, L - length)
        windows.append((src, dst, length))
    return ref, windows


def record_batch(corpus, monkeypatch, n, **kwargs):
    rmod = recording_random_module()
    monkeypatch.setattr(bk, "random", rmod)
    ds = dataset(corpus, speaker_count_probs={n: 1.0}, apply_rir_prob=1.0, apply_noise_prob=1.0, **kwargs)
    batch = next(iter(ds))
    return ds, batch, rmod.Random


def replay_batch(ds, batch, recorder, n, bs, overlap=(0.3, 1.0)):
    """Checks every draw of the first batch against the stream order and
    returns, per sample, what was drawn."""
    created = recorder.created
    base = ds.seed + ds.epoch * 10 ** 9
    worker, batch_stream, samples = created[0], created[1], created[2:]
    assert [r.seed_value for r in created[:2]] == [base, base]
    assert [r.seed_value for r in samples] == [base + i for i in range(bs)]
    log = recorder.log
    main = Replay(e for e in log if e[0] is worker or e[0] is batch_stream)
    assert main.take("random") <= 1.0 and main.take("random") <= 1.0
    assert main.take("choices", population=[n], weights=[1.0], k=1) == [n]
    drawn = []
    for b in range(bs):
        main_worker = main
        picks = replay_speakers(main_worker, ds, n)
        crops = []
        for _, path in picks:
            length = frames(path)
            crops.append(main.take("randint", 0, length - L) if length > L else 0)
        room = main.take("choice", ds.rir_rooms)
        rirs = main.take("sample", room[2], n)
        sirs = [main.take("uniform", *ds.sir_range) for _ in range(1, n)]
        noise = main.take("choice", ds.noise_files)
        noise_len = frames(noise)
        region = main.take("randrange", 1)
        offset = main.take("randint", 0, noise_len - L)
        snr = main.take("uniform", *ds.snr_range)
        assert main.take("randint", 0, 0) == 0
        sample_replay = Replay(e for e in log if e[0] is samples[b])
        ref, windows = replay_sample_stream(sample_replay, n, *overlap)
        assert sample_replay.done()
        drawn.append(types.SimpleNamespace(picks=picks, crops=crops, rirs=rirs, sirs=sirs, noise=noise,
                                           region=region, offset=offset, snr=snr, ref=ref, windows=windows))
    assert main.done()
    return drawn


@pytest.mark.parametrize("n", [1, 3])
def test_recorded_streams_show_the_call_order_of_a_batch(corpus, monkeypatch, n):
    ds, batch, recorder = record_batch(corpus, monkeypatch, n)
    drawn = replay_batch(ds, batch, recorder, n, bs=2)
    for b, d in enumerate(drawn):
        assert batch["source_ids"][b] == [spk for spk, _ in d.picks]
        paths = batch["paths"][b]
        assert paths["sources"] == [p for _, p in d.picks]
        assert paths["rir_used"] == d.rirs and paths["noise_path"] == d.noise
        assert paths["rir_applied_batch"] is True and paths["noise_applied_batch"] is True


def test_no_rooms_and_no_noise_leave_the_speaker_count_first(corpus, monkeypatch):
    rmod = recording_random_module()
    monkeypatch.setattr(bk, "random", rmod)
    ds = dataset(corpus, rir_map=None, noise_files=None, speaker_count_probs={6: 1.0, 0: 0.0})
    batch = next(iter(ds))
    batch_stream = rmod.Random.created[1]
    first = [e for e in rmod.Random.log if e[0] is batch_stream]
    assert [e[1] for e in first] == ["choices"]  # nothing drawn per sample either
    assert batch["num_spk"] == [4, 4]  # 6 clamped
    assert all(p["rir_used"] is None and p["noise_path"] is None for p in batch["paths"])
    assert torch.equal(batch["mixture"][:, 0], batch["sources"].sum(dim=1))


# ---- each sample against its own draws ---------------------------------------------------------

def crop_of(path, start):
    data, _ = sf.read(path, dtype="float32")
    out = np.zeros(L, np.float32)
    piece = data[start:start + L]
    out[:piece.size] = piece
    return out


def rms(x):
    return np.sqrt(np.mean(np.asarray(x, np.float64) ** 2))


def assert_proportional(actual, expected, rtol=1e-4):
    gain = np.dot(actual, expected) / np.dot(expected, expected)
    np.testing.assert_allclose(actual, gain * expected, rtol=0, atol=rtol * np.abs(gain * expected).max())
    return gain


@pytest.mark.parametrize("reference", ["speech", "target"])
@pytest.mark.parametrize("overlap", [(1.0, 1.0), (0.3, 0.8)])
def test_each_sample_matches_its_draws(corpus, monkeypatch, reference, overlap):
    n = 3
    ds, batch, recorder = record_batch(corpus, monkeypatch, n, snr_reference=reference, overlap_range=overlap)
    drawn = replay_batch(ds, batch, recorder, n, bs=2, overlap=overlap)
    for b, d in enumerate(drawn):
        sources = batch["sources"][b].numpy()
        mixture = batch["mixture"][b, 0].numpy()
        assert batch["num_spk"][b] == n and batch["mixture_len"][b] == L
        # Source i: its crop, reverberated with impulse response i, scaled,
        # and (unless it is the reference) cut into its window.
        wet = []
        for (_, path), start, rir_path in zip(d.picks, d.crops, d.rirs):
            h, _ = sf.read(rir_path, dtype="float32")
            wet.append(np.convolve(crop_of(path, start), h)[:L].astype(np.float32))
        gains = []
        for i in range(n):
            if d.windows[i] is None:
                gains.append(assert_proportional(sources[i], wet[i]))
                continue
            src, dst, length = d.windows[i]
            placed = np.zeros(L, np.float32)
            placed[dst:dst + length] = wet[i][src:src + length]
            gains.append(assert_proportional(sources[i], placed))
        # Levels: each reverberated source is brought back to its dry level,
        # interferers then to the drawn SIR against source 0.
        dry_levels = [rms(crop_of(p, s)) for (_, p), s in zip(d.picks, d.crops)]
        levels = [abs(g) * rms(w) for g, w in zip(gains, wet)]
        np.testing.assert_allclose(levels[0], dry_levels[0], rtol=1e-4)
        for i in range(1, n):
            np.testing.assert_allclose(20 * np.log10(levels[0] / levels[i]), d.sirs[i - 1], atol=1e-3)
        # The rest of the mixture is the noise segment at the drawn SNR.
        speech = sources.sum(axis=0)
        noise_part = mixture - speech
        noise_data, _ = sf.read(d.noise, dtype="float32")
        assert_proportional(noise_part, noise_data[d.offset:d.offset + L], rtol=1e-3)
        level_against = rms(sources[0]) if reference == "target" else rms(speech)
        np.testing.assert_allclose(20 * np.log10(level_against / rms(noise_part)), d.snr, atol=2e-3)


# ---- faults that would corrupt a sample ---------------------------------------------------------

def write_rir(path, samples, rate):
    sf.write(path, np.asarray(samples, np.float32), rate, subtype="FLOAT")
    return path


def wrapped_convolution(monkeypatch):
    """Patches the dataset's convolution with a wrapper of itself: the
    general path, which transforms the impulse response on every call."""
    original = bk.IterableSeparationDataset._fft_convolve_truncate
    monkeypatch.setattr(bk.IterableSeparationDataset, "_fft_convolve_truncate",
                        lambda self, signal, ir: original(self, signal, ir))


REVERBERANT = dict(samples_per_epoch=12, batch_size=3, apply_rir_prob=1.0, speaker_count_probs={3: 1.0})


def test_kept_spectra_give_the_batches_of_the_convolution_method(corpus, monkeypatch):
    # While the dataset's convolution is its own, each source is convolved
    # through the spectrum kept with its cached impulse response.
    kept = list(dataset(corpus, **REVERBERANT))
    wrapped_convolution(monkeypatch)
    general = list(dataset(corpus, **REVERBERANT))
    assert len(kept) == 4 and same_stream(kept, general)
    assert all(p["rir_used"] for b in kept for p in b["paths"])


def test_a_cached_response_changed_in_place_is_convolved_as_it_now_is(corpus, monkeypatch):
    ds = dataset(corpus, **REVERBERANT)
    list(ds)
    changed = {}
    for path, rir in ds._rir_cache.items():
        rir[:] = rir[::-1].copy()
        changed[path] = rir.copy()
    again = list(ds)
    wrapped_convolution(monkeypatch)
    general = dataset(corpus, **REVERBERANT)
    general._rir_cache.update(changed)
    assert same_stream(again, list(general))


@pytest.mark.parametrize("rate", [16000, 8000])
def test_empty_or_unusable_impulse_responses_leave_the_source_dry(corpus, monkeypatch, tmp_path, capsys, rate):
    # Empty, missing, non-finite or silent throughout: each counts as empty,
    # at the stream's rate and at another, and is reported once per file.
    empty = write_rir(str(tmp_path / "empty.wav"), [], rate)
    missing = str(tmp_path / "missing.wav")
    nan = write_rir(str(tmp_path / "nan.wav"), [1.0, 0.5, np.nan] + [0.1] * 40, rate)
    silent = write_rir(str(tmp_path / "silent.wav"), [0.0] * 40, rate)
    hollow = [empty, missing, nan, silent]
    rmod = recording_random_module()
    monkeypatch.setattr(bk, "random", rmod)
    ds = dataset(corpus, rir_map={"smallroom": {"hollow": hollow}}, noise_files=None,
                 speaker_count_probs={4: 1.0}, overlap_range=(1.0, 1.0), apply_rir_prob=1.0)
    batches = list(ds)
    worker = rmod.Random.created[0]
    crops = iter([e[4] for e in rmod.Random.log if e[0] is worker and e[1] == "randint"])
    for batch in batches:
        for b in range(2):
            assert sorted(batch["paths"][b]["rir_used"]) == sorted(hollow)
            for i, path in enumerate(batch["paths"][b]["sources"]):
                start = next(crops) if frames(path) > L else 0
                assert abs(rms(batch["sources"][b, i].numpy())) > 1e-3
                assert_proportional(batch["sources"][b, i].numpy(), crop_of(path, start))
    lines = capsys.readouterr().out.splitlines()
    # Judged before resampling, which would refuse the non-finite one.
    assert not [line for line in lines if nan in line or silent in line if "resample" in line]
    assert lines.count(f"[Warning] non-finite RIR {nan}: frame 2 is nan") == 1
    assert lines.count(f"[Warning] silent RIR {silent}: every sample is zero") == 1
    assert [line for line in lines if missing in line and line.startswith("[Warning] sf.read failed for ")]
    assert all(ds._rir_cache[p].size == 0 for p in hollow)


def failing_resampler(y, **kwargs):
    raise ValueError("resampler out of order")


def non_finite_utterances(tmp_path, rate, monkeypatch, general):
    bad = []
    for i, value in enumerate((np.inf, np.nan)):
        path = write_tone_speech(str(tmp_path / f"odd{i}.wav"), 0.4, rate, seed=i)
        data, _ = sf.read(path, dtype="float32")
        data[1234 + i] = value
        sf.write(path, data, rate, subtype="FLOAT")
        bad.append(path)
    if general:
        original = bk._load_audio
        monkeypatch.setattr(bk, "_load_audio", lambda path, target_sr: original(path, target_sr))
    return bad


BAD_UTTERANCES = {
    "unreadable": lambda tmp_path, mp: [str(tmp_path / "gone1.wav"), str(tmp_path / "gone2.wav")],
    "resampling": lambda tmp_path, mp: (
        mp.setattr(bk, "librosa", types.SimpleNamespace(resample=failing_resampler)),
        [write_tone_speech(str(tmp_path / f"low{i}.wav"), 0.4, 8000, seed=i) for i in range(2)])[1],
    # One rule at every rate, read over the crop or whole, directly or
    # through the package's _load_audio.
    "non-finite at 16 kHz": lambda tmp_path, mp: non_finite_utterances(tmp_path, 16000, mp, False),
    "non-finite at 16 kHz, general path": lambda tmp_path, mp: non_finite_utterances(tmp_path, 16000, mp, True),
    "non-finite at 8 kHz": lambda tmp_path, mp: non_finite_utterances(tmp_path, 8000, mp, False),
    # (the package's _load_audio reports the resampler's refusal instead)
    "non-finite at 8 kHz, general path": lambda tmp_path, mp: non_finite_utterances(tmp_path, 8000, mp, True),
    "non-finite at 22.05 kHz": lambda tmp_path, mp: non_finite_utterances(tmp_path, 22050, mp, False),
}


@pytest.mark.parametrize("fault", list(BAD_UTTERANCES))
def test_bad_utterance_fails_its_attempt_before_any_crop(corpus, monkeypatch, tmp_path, capsys, fault):
    speakers = {"good_a": corpus.speakers["libri_0"], "good_b": corpus.speakers["libri_1"]}
    bad = BAD_UTTERANCES[fault](tmp_path, monkeypatch)
    speakers["bad"] = bad
    rmod = recording_random_module()
    monkeypatch.setattr(bk, "random", rmod)
    ds = dataset(corpus, speakers_map=speakers, rir_map=None, noise_files=None, speaker_count_probs={1: 1.0},
                 batch_size=4, samples_per_epoch=4)
    batch = next(iter(ds))
    assert all(p not in bad for paths in batch["paths"] for p in paths["sources"])
    assert torch.isfinite(batch["mixture"]).all() and torch.isfinite(batch["sources"]).all()
    worker = rmod.Random.created[0]
    main = [e for e in rmod.Random.log if e[0] is worker]
    failed = [k for k, e in enumerate(main) if e[1] == "choice" and e[4] in bad]
    assert failed, "the seed never drew the bad speaker; pick another"
    for k in failed:
        # Straight after the file draw comes the next attempt's speaker draw.
        assert main[k + 1][1] == "choice" and main[k + 1][2] == (ds.speaker_ids,)
    # A retry goes on with the sample stream of the attempt it repeats, which
    # a failure before placement has not drawn from: one stream per sample,
    # one reference draw each, as with no failure at all.
    samples = rmod.Random.created[2:]
    assert [r.seed_value for r in samples] == [3 + i for i in range(4)]
    assert [(e[0], e[1], e[2]) for e in rmod.Random.log if e[0] in samples] == [(r, "randint", (0, 0))
                                                                               for r in samples]
    lines = capsys.readouterr().out.splitlines()
    assert len(lines) == len(failed)
    if fault.startswith("non-finite") and "general" not in fault:
        expected = {bad[0]: "frame 1234 is inf", bad[1]: "frame 1235 is nan"}
        assert lines == [f"[Warning] non-finite audio {main[k][4]}: {expected[main[k][4]]}" for k in failed]


def silent_speaker(tmp_path, corpus):
    mute = []
    for i in range(2):
        path = str(tmp_path / f"mute{i}.wav")
        sf.write(path, np.zeros(6000, np.float32), RATE, subtype="PCM_16")
        mute.append(path)
    return {"good_a": corpus.speakers["libri_0"], "good_b": corpus.speakers["libri_1"], "mute": mute}, mute, (0.3, 1.0)


def short_utterances(tmp_path, corpus):
    # 480 samples of voice in a 4000-sample segment: a 1200-sample window
    # mostly falls in the padding.
    short = {f"short{k}": [write_tone_speech(str(tmp_path / f"s{k}_{u}.wav"), 0.03, RATE, seed=10 * k + u)
                           for u in range(2)] for k in range(3)}
    return short, [p for files in short.values() for p in files], (0.3, 0.3)


@pytest.mark.parametrize("make_speakers", [silent_speaker, short_utterances])
def test_a_source_without_signal_fails_its_attempt_after_placement(corpus, monkeypatch, tmp_path, capsys,
                                                                   make_speakers):
    speakers, suspects, overlap = make_speakers(tmp_path, corpus)
    rmod = recording_random_module()
    monkeypatch.setattr(bk, "random", rmod)
    ds = dataset(corpus, speakers_map=speakers, speaker_count_probs={2: 1.0}, overlap_range=overlap,
                 apply_rir_prob=1.0, apply_noise_prob=1.0, batch_size=4)
    batch = next(iter(ds))
    for b in range(4):
        for i in range(2):
            assert (batch["sources"][b, i] != 0).any()
    # Every attempt reaches its placement; a retry goes on with the sample
    # stream of the attempt it repeats, so it draws other windows.
    samples = rmod.Random.created[2:]
    assert len(samples) == 4
    attempts = sum(1 for e in rmod.Random.log if e[0] in samples and e[1:3] == ("randint", (0, 1)))
    failed = attempts - 4
    assert failed > 0, "no attempt drew a silent source; pick another seed"
    lines = capsys.readouterr().out.splitlines()
    assert len(lines) == failed
    assert all(line.startswith("[Warning] silent source ") and line.endswith(": it carries no signal after placement")
               and line.split(" ")[3][:-1] in suspects for line in lines)
    # Judged after the room and placement draws of every attempt, before the
    # noise draw of the ones that pass.
    batch_stream = rmod.Random.created[1]
    draws = [e for e in rmod.Random.log if e[0] is batch_stream]
    assert sum(1 for e in draws if e[1] == "choice" and e[2] == (ds.rir_rooms,)) == attempts
    assert sum(1 for e in draws if e[1] == "choice" and e[2] == (ds.noise_files,)) == 4


@pytest.mark.parametrize("rate", [16000, 8000])
def test_a_non_finite_noise_segment_fails_its_attempt_at_every_rate(corpus, monkeypatch, tmp_path, capsys, rate):
    # Two 10 s regions: the first clean, the second all NaN. Segments of the
    # first are served, at the stream's rate and after resampling alike.
    noise = np.random.default_rng(4).standard_normal(int(20.5 * rate)).astype(np.float32) * 0.05
    noise[10 * rate:20 * rate] = np.nan
    path = str(tmp_path / "half_nan.wav")
    sf.write(path, noise, rate, subtype="FLOAT")
    rmod = recording_random_module()
    monkeypatch.setattr(bk, "random", rmod)
    ds = dataset(corpus, noise_files=[path], rir_map=None, speaker_count_probs={2: 1.0}, apply_noise_prob=1.0,
                 batch_size=4)
    batch = next(iter(ds))
    assert torch.isfinite(batch["mixture"]).all()
    assert all(p["noise_path"] == path for p in batch["paths"])
    assert not torch.equal(batch["mixture"][:, 0], batch["sources"].sum(dim=1))  # the noise is there
    worker = rmod.Random.created[0]
    main = [e for e in rmod.Random.log if e[0] is worker]
    regions = [k for k, e in enumerate(main) if e[1] == "randrange"]
    bad = [k for k in regions if main[k][4] == 1]
    assert bad and len(regions) - len(bad) == 4
    for k in bad:
        # The offset in the region, then the next attempt's speakers: no SNR.
        assert main[k + 1][1] == "randint" and main[k + 2][1] == "choice" and main[k + 2][2] == (ds.speaker_ids,)
    lines = capsys.readouterr().out.splitlines()
    assert len(lines) == len(bad)
    assert all(line.startswith(f"[Warning] non-finite noise {path}: the drawn segment's sample ")
               and line.endswith(" is nan") for line in lines)


def test_stream_ends_when_no_attempt_succeeds(corpus, monkeypatch, tmp_path, capsys):
    rmod = recording_random_module()
    monkeypatch.setattr(bk, "random", rmod)
    gone = {"x": [str(tmp_path / "a.wav"), str(tmp_path / "b.wav")]}
    ds = dataset(corpus, speakers_map=gone, samples_per_epoch=None, batch_size=3, speaker_count_probs={1: 1.0})
    assert list(ds) == []
    sample_streams = rmod.Random.created[2:]
    assert [r.seed_value for r in sample_streams] == [3]
    lines = capsys.readouterr().out.splitlines()
    # One read failure per attempt, then the end of the stream, named.
    assert len(lines) == 61 and all(line.startswith("[Warning] sf.read failed for ") for line in lines[:60])
    assert lines[60] == ("[Warning] short epoch 0 on worker 0, rank 0: batch 0 got 0 of 3 samples, 60 of its 60 "
                         "attempts failed; the endless stream ends after 0 batches")


def test_failed_speaker_draw_is_retried_quietly(corpus, monkeypatch, capsys):
    ds = dataset(corpus, batch_size=2, samples_per_epoch=2)
    reference = list(dataset(corpus, batch_size=2, samples_per_epoch=2))
    calls = []
    original = bk.IterableSeparationDataset._sample_speakers_and_utts

    def flaky(self, rng, num_spk):
        calls.append(num_spk)
        if len(calls) == 1:
            rng.random()
            raise RuntimeError("flaky")
        return original(self, rng, num_spk)

    monkeypatch.setattr(bk.IterableSeparationDataset, "_sample_speakers_and_utts", flaky)
    batches = list(ds)
    assert len(batches) == 1 and len(calls) == 3 and capsys.readouterr().out == ""
    assert not batches_equal(batches[0], reference[0])  # the worker stream moved on


def test_unexpected_error_ends_the_stream(corpus, monkeypatch):
    ds = dataset(corpus)
    monkeypatch.setattr(bk, "preserve_rms", lambda orig, processed: 1 / 0)
    stream = iter(ds)
    with pytest.raises(ZeroDivisionError):
        next(stream)
    with pytest.raises(StopIteration):
        next(stream)


def test_noise_is_read_once_and_failed_rir_load_warns(corpus, monkeypatch, capsys):
    ds = dataset(corpus, rir_map={"smallroom": {"r": ["a", "b", "c", "d"]}}, apply_rir_prob=1.0,
                 apply_noise_prob=1.0, speaker_count_probs={2: 1.0})
    reads = []
    original = bk._safe_sf_read
    monkeypatch.setattr(bk, "_safe_sf_read", lambda path, dtype="float32": (reads.append(path), original(path, dtype))[1])

    def broken(path):
        raise OSError(f"cannot open {path}")

    monkeypatch.setattr(ds, "_load_and_resample_rir", broken)
    batches = list(ds)
    noise_reads = [p for p in reads if p in corpus.noises]
    assert sorted(noise_reads) == sorted(set(noise_reads)) and set(ds._noise_cache) == set(noise_reads)
    lines = capsys.readouterr().out.splitlines()
    assert len(lines) == 4 * 2 * 2
    assert all(line.startswith("[Warning] failed load rir ") and ": cannot open " in line for line in lines)
    assert all(len(p["rir_used"]) == 2 for b in batches for p in b["paths"])


# ---- reading straight through the package's own reader -----------------------------------------

@pytest.fixture(scope="module")
def mixed_rate_corpus(tmp_path_factory):
    root = str(tmp_path_factory.mktemp("rates"))
    speakers = make_corpus(root, speakers=3, seconds=(0.35, 0.5, 0.2), rates=(16000, 8000, 22050))
    stereo = os.path.join(root, "stereo.wav")
    gen = np.random.default_rng(3)
    sf.write(stereo, (0.1 * gen.standard_normal((int(0.4 * 8000), 2))).astype(np.float32), 8000)
    one_sample = os.path.join(root, "one.wav")
    sf.write(one_sample, np.full(1, 0.5, np.float32), 22050)
    stereo16 = os.path.join(root, "stereo16.wav")
    sf.write(stereo16, (0.1 * gen.standard_normal((int(0.45 * 16000), 3))).astype(np.float32), 16000,
             subtype="PCM_16")
    speakers["libri_x"] = [stereo, one_sample, stereo16, speakers["libri_1"][0]]
    return speakers


@pytest.fixture(scope="module")
def compressed_corpus(tmp_path_factory):
    """FLAC utterances long enough to span several FLAC frames, at 8 and 16
    kHz, 16- and 24-bit, one and three channels; and Ogg Vorbis ones long
    enough that a seek into their last second can land on samples other
    than a whole read's there."""
    root = str(tmp_path_factory.mktemp("compressed"))
    kinds = [("flac", "PCM_16", 8000, 1), ("flac", "PCM_24", 16000, 3), ("flac", "PCM_16", 16000, 1),
             ("flac", "PCM_24", 8000, 2), ("ogg", "VORBIS", 16000, 1), ("ogg", "VORBIS", 8000, 2)]
    speakers = {}
    for k, (ext, subtype, rate, channels) in enumerate(kinds):
        files = []
        for u, seconds in enumerate((1.3, 0.9, 0.6) if ext == "flac" else (4.5, 4.5, 7.3)):
            path = os.path.join(root, f"spk{k}", f"utt{u}.{ext}")
            files.append(write_tone_speech(path, seconds, rate, seed=10 * k + u, subtype=subtype, channels=channels))
        speakers[f"libri_{k}"] = files
    return speakers


@pytest.mark.parametrize("corpus_name", ["mixed_rate_corpus", "compressed_corpus"])
def test_cropping_before_resampling_gives_the_same_batches(corpus, corpus_name, request, monkeypatch, capsys):
    # While the package's reader and resampler are its own, a WAV or FLAC file
    # is read over the frames its crop is made from only, and one at another
    # rate is resampled over its crop only; a wrapped _load_audio takes the
    # general path, which reads and resamples whole utterances. Both must
    # give the same bits.
    speakers = request.getfixturevalue(corpus_name)
    options = dict(speakers_map=speakers, samples_per_epoch=24, batch_size=3)
    direct = list(dataset(corpus, **options))
    direct_out = capsys.readouterr().out
    original = bk._load_audio
    monkeypatch.setattr(bk, "_load_audio", lambda path, target_sr: original(path, target_sr))
    general = list(dataset(corpus, **options))
    assert len(direct) == 8 and same_stream(direct, general)
    assert capsys.readouterr().out == direct_out
    drawn = {p for b in direct for paths in b["paths"] for p in paths["sources"]}
    if corpus_name == "mixed_rate_corpus":
        assert {"stereo.wav", "stereo16.wav"} <= {os.path.basename(p) for p in drawn} and len(drawn) > 10
        # The one-sample file cannot be resampled; every attempt with it failed.
        assert not any(p.endswith("one.wav") for p in drawn)
        assert "failed resample audio" in direct_out
    else:
        assert direct_out == ""
        assert {os.path.dirname(p) for p in drawn} == {os.path.dirname(f[0]) for f in speakers.values()}


def test_stream_from_two_corpus_roots(tmp_path):
    for corpus, rate in (("libri", 16000), ("wsj0", 8000)):
        for spk in ("19", "20"):
            for u in range(2):
                write_tone_speech(str(tmp_path / corpus / "train" / spk / f"{u}.wav"), 0.4, rate, seed=u)
    (tmp_path / "wsj0" / "train" / "21").mkdir()
    write_tone_speech(str(tmp_path / "wsj0" / "train" / "21" / "only.wav"), 0.4, 8000, seed=9)
    ds = bk.IterableSeparationDataset(speech_root=[str(tmp_path / "libri"), str(tmp_path / "wsj0")],
                                      segment_seconds=SEGMENT, samples_per_epoch=4, seed=1)
    assert ds.speaker_ids == ["libri_19", "libri_20", "wsj0_19", "wsj0_20"]
    ds.batch_size = 2
    batches = list(ds)
    assert len(batches) == 2
    for b in batches:
        for ids, paths in zip(b["source_ids"], b["paths"]):
            for spk, path in zip(ids, paths["sources"]):
                corpus, name = spk.split("_")
                assert path == str(tmp_path / corpus / "train" / name / os.path.basename(path))
