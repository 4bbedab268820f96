import argparse
import glob
import os
import random
import types
import typing

import numpy as np
import pandas
import pytest
import soundfile
import torch
import torch.distributed
import torch.utils.data

import utility.blendkit as bk
from corpus_tree import build
from helpers import ROOT, run_python

# The order in which loading binds the module's names.
BOUND_ORDER = [
    "os", "glob", "random", "Dict", "List", "Optional", "Tuple", "Iterator", "Callable",
    "np", "sf", "librosa", "torch", "argparse", "data", "DataLoader", "IterableDataset",
    "pad_sequence", "dist", "pd", "AUDIO_EXTS",
    "collect_files", "collect_rir_hierarchy", "find_audio_files_by_speaker", "combine_speaker_mappings",
    "_safe_sf_read", "_load_audio", "_fft_convolve", "rms", "preserve_rms", "_scale_for_sir", "_mix_noise_at_snr",
    "IterableSeparationDataset",
    "ValidationDataset_1mix", "ValidationDataset_2mix", "ValidationDataset_3mix", "ValidationDataset_4mix",
]
# Names that must be there whatever else of the module is built yet.
ALWAYS_BOUND = BOUND_ORDER[:BOUND_ORDER.index("_safe_sf_read")] + BOUND_ORDER[-4:]


def test_names_are_bound_in_the_modules_order():
    names = list(vars(bk))
    assert set(ALWAYS_BOUND) <= set(names)
    present = [name for name in names if name in BOUND_ORDER]
    assert present == [name for name in BOUND_ORDER if name in present]


@pytest.mark.parametrize("name, bound", [
    ("os", os), ("glob", glob), ("random", random),
    ("Dict", typing.Dict), ("List", typing.List), ("Optional", typing.Optional), ("Tuple", typing.Tuple),
    ("Iterator", typing.Iterator), ("Callable", typing.Callable),
    ("np", np), ("sf", soundfile), ("torch", torch), ("argparse", argparse),
    ("data", torch.utils.data), ("DataLoader", torch.utils.data.DataLoader),
    ("IterableDataset", torch.utils.data.IterableDataset),
    ("pad_sequence", torch.nn.utils.rnn.pad_sequence), ("dist", torch.distributed), ("pd", pandas),
])
def test_outside_packages_under_their_module_names(name, bound):
    assert getattr(bk, name) is bound


def test_audio_extensions():
    assert bk.AUDIO_EXTS == (".wav", ".flac", ".sph", ".mp3") and type(bk.AUDIO_EXTS) is tuple


def test_indexer_defaults_are_fixed_when_the_functions_are_defined(tmp_path, monkeypatch):
    build(tmp_path, ["s/spk/a.wav", "s/spk/b.txt"])
    monkeypatch.setattr(bk, "AUDIO_EXTS", (".txt",))
    assert bk.find_audio_files_by_speaker(str(tmp_path)) == {"spk": [f"{tmp_path}/s/spk/a.wav"]}
    assert bk.collect_rir_hierarchy([str(tmp_path)]) == {"s": {"spk": [f"{tmp_path}/s/spk/a.wav"]}}


def test_importing_prints_nothing():
    done = run_python("import utility.blendkit", ROOT)
    assert (done.returncode, done.stdout, done.stderr) == (0, "", "")


@pytest.mark.parametrize("n", [1, 2, 3, 4])
def test_validation_classes_are_torch_datasets(n):
    cls = getattr(bk, f"ValidationDataset_{n}mix")
    assert issubclass(cls, torch.utils.data.Dataset) and cls.__bases__ == (torch.utils.data.Dataset,)
    assert cls.__doc__ is None and cls.__module__ == "utility.blendkit"
    assert [name for name in vars(cls) if not name.startswith("__") or name in ("__init__", "__len__", "__getitem__")] \
        == ["__init__", "__len__", "_read_wav_safe", "__getitem__"]


def test_librosa_is_the_projects_resampler_with_keyword_rates():
    out = bk.librosa.resample(np.zeros(10, dtype=np.float32), orig_sr=3, target_sr=4, res_type="kaiser_fast")
    assert out.dtype == np.float32 and out.shape == (14,)
    with pytest.raises(TypeError):
        bk.librosa.resample(np.zeros(10, dtype=np.float32), 3, 4)


def test_a_replaced_librosa_is_the_one_the_module_calls(tmp_path, monkeypatch):
    path = str(tmp_path / "a.wav")
    soundfile.write(path, np.zeros(80, dtype=np.float32), 8000)
    calls = []

    def resample(y, **kwargs):
        calls.append(kwargs)
        return np.ones(3, dtype=np.float32)

    monkeypatch.setattr(bk, "librosa", types.SimpleNamespace(resample=resample))
    data, rate = bk._load_audio(path, 16000)
    assert calls == [{"orig_sr": 8000, "target_sr": 16000, "res_type": "kaiser_fast"}]
    assert rate == 16000 and data.tolist() == [1.0, 1.0, 1.0]
