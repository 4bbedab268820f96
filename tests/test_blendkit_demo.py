"""The training-stream demonstration (python -m utility.blendkit): console
lines and wav files, first with a scripted dataset standing in for the stream
(so every batch shape the program must cope with can be shown), then end to
end on a small generated corpus."""
import io
import os
import sys

import numpy as np
import pytest
import soundfile as sf
import torch

import utility.blendkit as bk
from helpers import ROOT, launch


def batch(lengths, slots=2, ids=None, with_sources=True, fill=0.1):
    """A separation batch of len(lengths) samples, T = max(lengths)."""
    t = max(lengths)
    b = len(lengths)
    mixture = torch.zeros(b, 1, t)
    sources = torch.zeros(b, slots, t)
    for j, n in enumerate(lengths):
        mixture[j, 0, :n] = torch.arange(n) * fill + j
        for k in range(slots):
            sources[j, k, :n] = torch.arange(n) * fill * (k + 2)
    out = {"mixture": mixture, "mixture_len": torch.tensor(lengths, dtype=torch.long),
           "num_spk": [slots] * b, "sr": 8000}
    if ids is not None:
        out["source_ids"] = ids
    if with_sources:
        out = {"sources": sources, "sources_len": torch.full((b, slots), t, dtype=torch.long), **out}
    return out


class ScriptedStream(torch.utils.data.IterableDataset):
    """Yields the given batches every epoch; records how it was built."""

    batches = []
    made = []

    def __init__(self, **kwargs):
        super().__init__()
        self.kwargs = kwargs
        self.epochs = []
        ScriptedStream.made.append(self)

    def set_epoch(self, epoch):
        self.epochs.append(epoch)

    def __iter__(self):
        return iter(list(ScriptedStream.batches))


@pytest.fixture
def scripted(monkeypatch, tmp_path):
    ScriptedStream.made = []
    ScriptedStream.batches = [batch([5, 3], ids=[["libri_1", "wsj0_2"], ["libri_3", "libri_4"]])]
    calls = {"rir": [], "noise": []}

    def rir_index(patterns):
        calls["rir"].append(patterns)
        return {"smallroom": {"r1": ["a.wav"], "r2": ["b.wav"]}, "big": {"r3": ["c.wav"]}}

    def noise_index(patterns):
        calls["noise"].append(patterns)
        return ["n1.wav", "n2.wav", "n3.wav"]

    monkeypatch.setattr(bk, "IterableSeparationDataset", ScriptedStream, raising=False)
    monkeypatch.setattr(bk, "collect_rir_hierarchy", rir_index, raising=False)
    monkeypatch.setattr(bk, "collect_files", noise_index, raising=False)
    out_dir = tmp_path / "out" / "nested"

    def run(*argv, base=("--out_dir", str(out_dir), "--speeches", "A", "B")):
        monkeypatch.setattr(sys, "argv", ["blendkit", *base, *argv])
        bk._blendkit._run_demonstration()
        return out_dir

    run.calls = calls
    return run


def lines_of(capsys):
    return capsys.readouterr().out.splitlines()


def test_config_block_dataset_and_loader(scripted, capsys):
    out_dir = scripted("--rirs", "r", "--noises", "n*.wav", "--epochs", "1", "--batch_size", "3",
                       "--samples_per_epoch", "12")
    lines = lines_of(capsys)
    assert lines[:9] == [
        "Config:", "  speech_root: ['A', 'B']", "  #rirs rooms: 2", "  #noises: 3 files",
        "  samples_per_epoch: 12", "  batch_size: 3", "  num_workers: 0", "  epochs: 1", "  seed: 4",
    ]
    assert lines[9:11] == ["", "=== Epoch 0 ==="]
    assert lines[-1] == "Done."
    assert scripted.calls == {"rir": [["r"]], "noise": [["n*.wav"]]}
    ds, = ScriptedStream.made
    assert list(ds.kwargs.items()) == [
        ("speech_root", ["A", "B"]), ("rir_map", {"smallroom": {"r1": ["a.wav"], "r2": ["b.wav"]}, "big": {"r3": ["c.wav"]}}),
        ("noise_files", ["n1.wav", "n2.wav", "n3.wav"]), ("samples_per_epoch", 12), ("seed", 4)]
    assert ds.batch_size == 3 and ds.epochs == [0]
    assert out_dir.is_dir()


def test_step_line_and_files_written(scripted, capsys):
    out_dir = scripted("--epochs", "1")
    lines = lines_of(capsys)
    step = [l for l in lines if l.startswith("[epoch")]
    assert step == ["[epoch 0] step 0 | batch_size=2 | mixture_lens=[5, 3] | num_spk=[2, 2] | "
                    "source_ids=[['libri_1', 'wsj0_2'], ['libri_3', 'libri_4']]"]
    b0 = "epoch000_step000000_b0_sidslibri_1_wsj0_2"
    b1 = "epoch000_step000000_b1_sidslibri_3_libri_4"
    saved = [l for l in lines if l.startswith("Saved: ")]
    assert saved == [
        "Saved: " + ", ".join(os.path.join(str(out_dir), n) for n in
                              (b0 + "_mixture.wav", b0 + "_source0_sidlibri_1.wav", b0 + "_source1_sidwsj0_2.wav")),
        "Saved: " + ", ".join(os.path.join(str(out_dir), n) for n in
                              (b1 + "_mixture.wav", b1 + "_source0_sidlibri_3.wav", b1 + "_source1_sidlibri_4.wav")),
    ]
    data, sr = sf.read(str(out_dir / (b1 + "_mixture.wav")), dtype="float32")
    assert sr == 8000 and sf.info(str(out_dir / (b1 + "_mixture.wav"))).subtype == "FLOAT"
    np.testing.assert_array_equal(data, (torch.arange(3) * 0.1 + 1).numpy())
    src, _ = sf.read(str(out_dir / (b1 + "_source1_sidlibri_4.wav")), dtype="float32")
    assert src.shape == (5,)  # the slot's recorded length, padding included
    np.testing.assert_array_equal(src[:3], (torch.arange(3) * 0.1 * 3).numpy())


@pytest.mark.parametrize("make,names", [
    # an empty id list: the tag is empty and no slot carries an id
    (lambda: batch([4], ids=[[]]), ["epoch000_step000000_b0_sids_mixture.wav",
                                   "epoch000_step000000_b0_sids_source0.wav",
                                   "epoch000_step000000_b0_sids_source1.wav"]),
    # fewer ids than slots: later slots without an id
    (lambda: batch([4], slots=3, ids=[["x"]]), ["epoch000_step000000_b0_sidsx_mixture.wav",
                                               "epoch000_step000000_b0_sidsx_source0_sidx.wav",
                                               "epoch000_step000000_b0_sidsx_source1.wav",
                                               "epoch000_step000000_b0_sidsx_source2.wav"]),
    # no ids at all
    (lambda: batch([4], slots=1), ["epoch000_step000000_b0_mixture.wav", "epoch000_step000000_b0_source0.wav"]),
    # no sources: only the mixture
    (lambda: batch([4], with_sources=False), ["epoch000_step000000_b0_mixture.wav"]),
])
def test_file_names_follow_the_ids_and_slots(scripted, capsys, make, names):
    ScriptedStream.batches = [make()]
    out_dir = scripted("--epochs", "1")
    saved = [l for l in lines_of(capsys) if l.startswith("Saved: ")]
    assert saved == ["Saved: " + ", ".join(os.path.join(str(out_dir), n) for n in names)]
    assert sorted(os.listdir(out_dir)) == sorted(names)


def test_slots_of_no_length_are_skipped(scripted, capsys):
    b = batch([4], slots=3)
    b["sources_len"] = torch.tensor([[4, 0, -1]])
    ScriptedStream.batches = [b]
    out_dir = scripted("--epochs", "1")
    assert sorted(os.listdir(out_dir)) == ["epoch000_step000000_b0_mixture.wav", "epoch000_step000000_b0_source0.wav"]


def test_a_failed_save_keeps_earlier_files_and_the_run_goes_on(scripted, capsys):
    bad = batch([4, 4], slots=1)
    bad["sources"] = bad["sources"][:, 0]  # two dimensions where three are expected
    ScriptedStream.batches = [bad, batch([2], slots=1)]
    # Two batches of two: the epoch the stream was asked for, so no short one.
    out_dir = scripted("--epochs", "1", "--max_steps_per_epoch", "-1", "--samples_per_epoch", "4")
    lines = lines_of(capsys)
    warning = [l for l in lines if l.startswith("[Warning]")]
    assert warning == ["[Warning] failed to save wavs at epoch 0 step 0: not enough values to unpack (expected 3, got 2)"]
    assert sorted(os.listdir(out_dir)) == ["epoch000_step000000_b0_mixture.wav", "epoch000_step000001_b0_mixture.wav",
                                           "epoch000_step000001_b0_source0.wav"]
    assert lines[-1] == "Done."


def test_an_output_folder_and_ids_that_are_not_utf8(scripted, monkeypatch, tmp_path):
    # A console that writes such names as their bytes, as the file system holds them.
    console = io.TextIOWrapper(io.BytesIO(), encoding="utf-8", errors="surrogateescape")
    monkeypatch.setattr(sys, "stdout", console)
    out_dir = os.fsdecode(os.path.join(os.fsencode(str(tmp_path)), b"out\xff"))
    ScriptedStream.batches = [batch([4], slots=1, ids=[[os.fsdecode(b"spk\xff")]])]
    scripted("--epochs", "1", "--samples_per_epoch", "2", base=("--out_dir", out_dir, "--speeches", "A", "B"))
    base = b"epoch000_step000000_b0_sidsspk\xff"
    names = [base + b"_mixture.wav", base + b"_source0_sidspk\xff.wav"]
    assert sorted(os.listdir(os.fsencode(out_dir))) == sorted(names)
    console.flush()
    printed = console.buffer.getvalue().splitlines()
    assert b"Saved: " + b", ".join(os.path.join(os.fsencode(out_dir), n) for n in names) in printed
    assert not any(line.startswith(b"[Warning]") for line in printed)


@pytest.mark.parametrize("argv,steps_per_epoch", [
    (("--max_steps_per_epoch", "0"), 1),   # the limit is tested after the step
    (("--max_steps_per_epoch", "2"), 2),
    (("--max_steps_per_epoch", "-1"), 5),  # every batch of the stream
])
def test_step_limit(scripted, capsys, argv, steps_per_epoch):
    ScriptedStream.batches = [batch([2], slots=1) for _ in range(5)]
    scripted("--epochs", "2", *argv)
    lines = lines_of(capsys)
    steps = [l.split(" | ")[0] for l in lines if l.startswith("[epoch")]
    assert steps == ["[epoch %d] step %d" % (e, i) for e in range(2) for i in range(steps_per_epoch)]
    assert [l for l in lines if l.startswith("===")] == ["=== Epoch 0 ===", "=== Epoch 1 ==="]
    assert ScriptedStream.made[0].epochs == [0, 1]


@pytest.mark.parametrize("argv,closing", [
    # Endless, ended by the default limit of 10 steps.
    ((), ["[Warning] epoch 0 made 3 of 10 steps", "[Warning] epoch 1 made 3 of 10 steps"]),
    # 13 samples in batches of 2: six batches were to come.
    (("--samples_per_epoch", "13", "--max_steps_per_epoch", "-1"),
     ["[Warning] epoch 0 made 3 of 6 steps", "[Warning] epoch 1 made 3 of 6 steps"]),
    (("--samples_per_epoch", "13", "--max_steps_per_epoch", "2"), []),
    (("--samples_per_epoch", "6"), []),
    (("--max_steps_per_epoch", "-1"),
     ["[Warning] epoch 0 made 3 steps; the endless stream ended",
      "[Warning] epoch 1 made 3 steps; the endless stream ended"]),
])
def test_closing_lines_name_the_epochs_short_of_their_steps(scripted, capsys, argv, closing):
    ScriptedStream.batches = [batch([2, 2], slots=1) for _ in range(3)]
    scripted("--epochs", "2", *argv)
    lines = lines_of(capsys)
    assert lines[-1] == "Done."
    # The closing lines come after the last epoch's last step.
    assert lines[-1 - len(closing):-1] == closing and lines[-2 - len(closing)].startswith("Saved: ")


def test_no_epochs_no_files(scripted, capsys):
    out_dir = scripted("--epochs", "0")
    lines = lines_of(capsys)
    assert lines[0] == "Config:" and lines[-1] == "Done." and not any(l.startswith("===") for l in lines)
    assert os.listdir(out_dir) == []


@pytest.mark.parametrize("rir_map,rooms", [({}, 0), ({"largeroom": {"r": ["x.wav"]}}, 0),
                                           ({"smallroom": {}}, 0)])
def test_missing_smallroom_type_shows_no_rooms(scripted, capsys, monkeypatch, rir_map, rooms):
    monkeypatch.setattr(bk, "collect_rir_hierarchy", lambda patterns: rir_map)
    scripted("--epochs", "0")
    assert "  #rirs rooms: %d" % rooms in lines_of(capsys)


def test_empty_rir_and_noise_options_skip_the_indexers(scripted, capsys):
    scripted("--epochs", "0", "--rirs", "--noises")
    lines = lines_of(capsys)
    assert "  #rirs rooms: 0" in lines and "  #noises: 0 files" in lines
    assert scripted.calls == {"rir": [], "noise": []}
    ds, = ScriptedStream.made
    assert ds.kwargs["rir_map"] == {} and ds.kwargs["noise_files"] == []


def test_help_lists_the_options():
    done = launch("-m", "utility.blendkit", "--help", cwd=ROOT)
    assert done.returncode == 0, done.stderr
    out = done.stdout
    assert "Run IterableTargetSpeakerDataset demo" in out
    for option in ("--speeches", "--rirs", "--noises", "--samples_per_epoch", "--batch_size", "--num_workers",
                   "--epochs", "--seed", "--max_steps_per_epoch", "--out_dir"):
        assert option in out
    assert "每 epoch 总样本数（None 表示无限流）" in out


# ---------------------------------------------------------------- end to end

@pytest.fixture(scope="module")
def corpus(tmp_path_factory):
    """Two corpus roots of speaker folders (utterances longer than the 3 s
    segment, so no source is placed in silence), a tree of rooms, two noises
    (one at another rate)."""
    root = tmp_path_factory.mktemp("corpus")
    gen = np.random.default_rng(0)
    for name in ("libri", "wsj0"):
        for spk in ("s1", "s2"):
            folder = root / name / "train" / spk
            folder.mkdir(parents=True)
            for u in range(2):
                speech = (gen.standard_normal(50000 + 5000 * u) * 0.1).astype(np.float32)
                sf.write(str(folder / ("u%d.wav" % u)), speech, 16000)
    for room in ("room1", "room2"):
        folder = root / "rirs" / "smallroom" / room
        folder.mkdir(parents=True)
        for k in range(2):
            h = np.zeros(300, np.float32)
            h[0] = 1.0
            h[40:] = gen.standard_normal(260) * 0.05 * np.exp(-np.arange(260) / 60.0)
            sf.write(str(folder / ("h%d.wav" % k)), h, 16000)
    (root / "noises").mkdir()
    sf.write(str(root / "noises" / "n0.wav"), (gen.standard_normal(20000) * 0.1).astype(np.float32), 16000)
    sf.write(str(root / "noises" / "n1.wav"), (gen.standard_normal(5000) * 0.1).astype(np.float32), 8000)
    return root


def run_demo(corpus, out_dir, *extra):
    argv = ["--speeches", str(corpus / "libri"), str(corpus / "wsj0"), "--rirs", str(corpus / "rirs"),
            "--noises", str(corpus / "noises" / "*.wav"), "--samples_per_epoch", "4", "--batch_size", "2",
            "--epochs", "2", "--max_steps_per_epoch", "-1", "--seed", "3", "--out_dir", str(out_dir), *extra]
    done = launch("-m", "utility.blendkit", *argv, cwd=ROOT, timeout=300)
    assert done.returncode == 0, done.stderr
    return done.stdout.splitlines()


def test_demo_writes_the_stream_it_iterates(corpus, tmp_path):
    out_dir = tmp_path / "samples"
    lines = run_demo(corpus, out_dir)
    assert lines[:4] == ["Config:", "  speech_root: ['%s', '%s']" % (corpus / "libri", corpus / "wsj0"),
                         "  #rirs rooms: 2", "  #noises: 2 files"]
    assert lines[-1] == "Done." and not any("[Warning]" in l for l in lines)

    # The same stream, iterated here, is what the files hold.
    ds = bk.IterableSeparationDataset(
        speech_root=[str(corpus / "libri"), str(corpus / "wsj0")],
        rir_map=bk.collect_rir_hierarchy([str(corpus / "rirs")]),
        noise_files=bk.collect_files([str(corpus / "noises" / "*.wav")]), samples_per_epoch=4, seed=3)
    ds.batch_size = 2
    expected_steps, written = [], 0
    for epoch in range(2):
        ds.set_epoch(epoch)
        for i, b in enumerate(ds):
            expected_steps.append("[epoch %d] step %d | batch_size=%d | mixture_lens=%s | num_spk=%s | source_ids=%s"
                                  % (epoch, i, b["mixture"].size(0), b["mixture_len"].tolist(), b["num_spk"],
                                     b["source_ids"]))
            for j in range(b["mixture"].size(0)):
                ids = b["source_ids"][j]
                base = "epoch%03d_step%06d_b%d_sids%s" % (epoch, i, j, "_".join(ids))
                mix, sr = sf.read(str(out_dir / (base + "_mixture.wav")), dtype="float32")
                assert sr == 16000
                assert sf.info(str(out_dir / (base + "_mixture.wav"))).subtype == "FLOAT"
                np.testing.assert_array_equal(mix, b["mixture"][j, 0, :b["mixture_len"][j]].numpy())
                written += 1
                for k in range(b["sources"].shape[1]):
                    name = base + "_source%d" % k + ("_sid" + ids[k] if k < len(ids) else "") + ".wav"
                    src, _ = sf.read(str(out_dir / name), dtype="float32")
                    np.testing.assert_array_equal(src, b["sources"][j, k, :b["sources_len"][j, k]].numpy())
                    written += 1
    assert [l for l in lines if l.startswith("[epoch")] == expected_steps
    assert len(os.listdir(out_dir)) == written


def test_demo_with_loader_workers(corpus, tmp_path):
    out_dir = tmp_path / "workers"
    lines = run_demo(corpus, out_dir, "--num_workers", "2", "--epochs", "1")
    assert "  num_workers: 2" in lines and lines[-1] == "Done."
    saved = [p for l in lines if l.startswith("Saved: ") for p in l[len("Saved: "):].split(", ")]
    assert saved and sorted(saved) == sorted(str(out_dir / n) for n in os.listdir(out_dir))
    mixtures = [p for p in saved if p.endswith("_mixture.wav")]
    assert len(mixtures) == 4  # samples_per_epoch over both workers


def test_demo_without_small_rooms_runs_with_zero_rooms(corpus, tmp_path, monkeypatch, capsys):
    rirs = tmp_path / "rirs" / "largeroom" / "hall"
    rirs.mkdir(parents=True)
    sf.write(str(rirs / "h.wav"), np.r_[1.0, np.zeros(20)].astype(np.float32), 16000)
    monkeypatch.setattr(sys, "argv", [
        "blendkit", "--speeches", str(corpus / "libri"), str(corpus / "wsj0"), "--rirs", str(tmp_path / "rirs"),
        "--noises", "--samples_per_epoch", "2", "--epochs", "1", "--out_dir", str(tmp_path / "out")])
    bk._blendkit._run_demonstration()
    lines = lines_of(capsys)
    assert "  #rirs rooms: 0" in lines and "  #noises: 0 files" in lines
    assert lines[-1] == "Done." and len([l for l in lines if l.startswith("Saved: ")]) == 2


def test_a_full_disk_leaves_no_cut_wav_and_the_run_goes_on(scripted, capsys, small_tmpfs):
    # Each file takes six pages: room for two batches and the third's mixture,
    # not its source.
    full = small_tmpfs("full", size="128k")
    if full is None:
        pytest.skip("this process may not mount")
    ScriptedStream.batches = [batch([6000], slots=1) for _ in range(3)]
    out_dir = full / "out"
    scripted("--epochs", "1", "--max_steps_per_epoch", "-1", "--samples_per_epoch", "3",
             base=("--out_dir", str(out_dir), "--speeches", "A", "B"))
    warnings = [l for l in lines_of(capsys) if l.startswith("[Warning]")]
    assert len(warnings) == 1 and "No space left on device" in warnings[0], warnings
    names = sorted(os.listdir(out_dir))
    assert len(names) == 5 and not [n for n in names if n.startswith(".")], names
    assert all(sf.info(str(out_dir / n)).frames == 6000 for n in names)
