import os
import types

import numpy as np
import pytest
import soundfile as sf
import torch

import utility.blendkit as bk


def samples(folder, row, frames):
    """Distinct 16-bit sample values for every file of the set."""
    return (np.arange(frames) + 100 * folder + 1000 * row).astype(np.int16)


def write_set(root, n, rows, rate=16000, header="id,name,extra"):
    """rows: (entry, mixture frames, source frames, mixture channels)."""
    base = os.path.join(root, f"{n}mix")
    folders = ["mixture"] + [f"s{k}" for k in range(1, n + 1)]
    for r, (entry, mix_frames, src_frames, channels) in enumerate(rows):
        for f, folder in enumerate(folders):
            path = os.path.join(base, folder, entry)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            data = samples(f, r, mix_frames if f == 0 else src_frames)
            if f == 0 and channels == 2:
                data = np.stack([data, -data], axis=1)
            sf.write(path, data, rate, subtype="PCM_16")
    os.makedirs(base, exist_ok=True)
    with open(os.path.join(base, "metadata_validation.csv"), "w") as table:
        table.write(header + "\n")
        for r, (entry, *_) in enumerate(rows):
            table.write(f"{r},{entry},x\n")


def dataset(n, root):
    return getattr(bk, f"ValidationDataset_{n}mix")(types.SimpleNamespace(validation_path=root))


ROWS = [("a.wav", 5, 4, 2), ("sub/b.wav", 3, 3, 1), ("x/../c.wav", 2, 6, 1)]


@pytest.mark.parametrize("n", [1, 2, 3, 4])
def test_items_in_row_order_with_their_shapes_dtypes_and_samples(tmp_path, n):
    root = str(tmp_path)
    write_set(root, n, ROWS, rate=8000)
    ds = dataset(n, root)
    assert isinstance(ds, torch.utils.data.Dataset)
    fields = ["mixture_path"] + [f"spk{k}_path" for k in range(1, n + 1)]
    assert list(vars(ds)) == ["data_path", "metadata", "wav_metadata"] + fields
    assert ds.wav_metadata == [entry for entry, *_ in ROWS]
    assert ds.mixture_path == [f"{root}/{n}mix/mixture/{entry}" for entry, *_ in ROWS]
    assert getattr(ds, f"spk{n}_path")[1] == f"{root}/{n}mix/s{n}/sub/b.wav"
    assert len(ds) == 3
    for r, (entry, mix_frames, src_frames, _) in enumerate(ROWS):
        item = ds[r]
        assert list(item) == ["mixture", "sources"]
        mixture, sources = item["mixture"], item["sources"]
        assert mixture.dtype == sources.dtype == torch.float32
        assert mixture.shape == (1, mix_frames) and sources.shape == (n, src_frames)
        assert torch.equal(mixture[0], torch.from_numpy(samples(0, r, mix_frames) / 32768.0).float())
        for k in range(n):
            assert torch.equal(sources[k], torch.from_numpy(samples(k + 1, r, src_frames) / 32768.0).float())
    assert torch.equal(ds[-1]["sources"], ds[2]["sources"])


def test_read_wav_safe_gives_the_first_channel_as_float64_at_the_files_rate(tmp_path):
    write_set(str(tmp_path), 1, [("a.wav", 5, 4, 2)], rate=22050)
    signal, rate = dataset(1, str(tmp_path))._read_wav_safe(f"{tmp_path}/1mix/mixture/a.wav")
    assert rate == 22050 and signal.dtype == np.float64 and signal.shape == (5,)
    np.testing.assert_array_equal(signal, samples(0, 0, 5) / 32768.0)


def test_header_only_table_and_trailing_separator(tmp_path):
    write_set(str(tmp_path), 2, [], header="whatever,names")
    assert len(dataset(2, str(tmp_path))) == 0
    write_set(str(tmp_path), 3, [("a.wav", 2, 2, 1)], header="q,r,s")
    assert dataset(3, f"{tmp_path}/").mixture_path == [f"{tmp_path}/3mix/mixture/a.wav"]


@pytest.mark.parametrize("entry, reason", [
    ("/etc/hostname", "is an absolute path"),
    ("../../../x.wav", "climbs out of the validation root"),
    ("a/../../../../x.wav", "climbs out of the validation root"),
])
def test_an_unsafe_entry_is_refused_naming_its_row(tmp_path, entry, reason):
    write_set(str(tmp_path), 2, [("ok.wav", 2, 2, 1)])
    with open(f"{tmp_path}/2mix/metadata_validation.csv", "a") as table:
        table.write(f"1,{entry},x\n")
    with pytest.raises(ValueError) as error:
        dataset(2, str(tmp_path))
    message = str(error.value)
    assert "row 1" in message and repr(entry) in message and reason in message


def test_an_entry_climbing_only_within_the_root_is_served(tmp_path):
    write_set(str(tmp_path), 1, [("a.wav", 3, 3, 1)])
    with open(f"{tmp_path}/1mix/metadata_validation.csv", "a") as table:
        table.write("1,../../1mix/s1/a.wav,x\n")
    ds = dataset(1, str(tmp_path))
    assert ds[1]["mixture"].shape == (1, 3)


def test_missing_table_and_missing_column(tmp_path):
    with pytest.raises(FileNotFoundError, match="4mix/metadata_validation.csv"):
        dataset(4, str(tmp_path))
    os.makedirs(f"{tmp_path}/1mix")
    with open(f"{tmp_path}/1mix/metadata_validation.csv", "w") as table:
        table.write("name\na.wav\n")
    with pytest.raises(IndexError, match="second column"):
        dataset(1, str(tmp_path))


def test_a_missing_file_is_named_in_read_order(tmp_path):
    write_set(str(tmp_path), 2, [("a.wav", 2, 2, 1)])
    os.remove(f"{tmp_path}/2mix/s2/a.wav")
    ds = dataset(2, str(tmp_path))
    with pytest.raises(FileNotFoundError) as error:
        ds[0]
    assert str(error.value) == f"Audio file not found: {tmp_path}/2mix/s2/a.wav"


def test_failures_of_the_table_entries_index_and_audio(tmp_path):
    root = str(tmp_path)
    write_set(root, 3, [("a.wav", 2, 2, 1)], header="id,name")
    with open(f"{root}/3mix/metadata_validation.csv", "w") as table:
        table.write("id,name\n0,7\n")
    with pytest.raises(TypeError):
        dataset(3, root)
    write_set(root, 2, [("a.wav", 2, 2, 1), ("b.wav", 3, 3, 1)])
    sf.write(f"{root}/2mix/s2/b.wav", np.zeros(2, dtype=np.int16), 16000)
    with open(f"{root}/2mix/s1/a.wav", "wb") as damaged:
        damaged.write(b"not audio at all")
    ds = dataset(2, root)
    with pytest.raises(IndexError):
        ds[2]
    with pytest.raises(RuntimeError, match="a.wav"):
        ds[0]
    with pytest.raises(RuntimeError, match="Sizes of tensors must match"):
        ds[1]
    with pytest.raises(TypeError):
        dataset(2, tmp_path)
