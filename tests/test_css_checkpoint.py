import os

import numpy as np
import pytest
import torch

from leadvoice import ensure_dir, load_checkpoint_for_inference
from utility.unmixer_core import TFLocoformerSEP, write_checkpoint


def trained():
    model = TFLocoformerSEP()
    with torch.no_grad():
        model.split_hz.fill_(1234.5)
    return model


# ---------------------------------------------------------------- checkpoints

@pytest.mark.parametrize("wrapped", [True, False])
def test_both_layouts_load(tmp_path, wrapped):
    path = write_checkpoint(str(tmp_path / "ckpt.pth"), wrapped=wrapped, model=trained())
    model = TFLocoformerSEP()
    assert load_checkpoint_for_inference(path, model, torch.device("cpu")) is None
    assert model.split_hz.item() == 1234.5
    assert model.training       # the mode is left alone


@pytest.mark.parametrize("mutate, message", [
    (lambda sd: sd.pop("split_hz"), "Missing key"),
    (lambda sd: sd.__setitem__("extra.weight", torch.zeros(1)), "Unexpected key"),
    (lambda sd: sd.__setitem__("window", torch.zeros(7)), "size mismatch"),
])
@pytest.mark.parametrize("wrapped", [True, False])
def test_strict_load_refuses_other_keys(tmp_path, mutate, message, wrapped):
    state = TFLocoformerSEP().state_dict()
    mutate(state)
    torch.save({"model_state_dict": state, "epoch": 3} if wrapped else state, str(tmp_path / "c.pth"))
    with pytest.raises(RuntimeError, match=message):
        load_checkpoint_for_inference(str(tmp_path / "c.pth"), TFLocoformerSEP(), "cpu")


@pytest.mark.parametrize("where", ["missing.pth", ""])
def test_missing_file_or_a_folder_is_not_found(tmp_path, where):
    path = str(tmp_path / where) if where else str(tmp_path)
    with pytest.raises(FileNotFoundError) as info:
        load_checkpoint_for_inference(path, TFLocoformerSEP(), "cpu")
    assert str(info.value) == "Checkpoint not found: " + path


def test_torch_load_is_called_with_map_location_only(tmp_path, monkeypatch):
    path = write_checkpoint(str(tmp_path / "ckpt.pth"))
    seen = []
    real_load = torch.load

    def spy(*args, **kwargs):
        seen.append((args, kwargs))
        return real_load(*args, **kwargs)

    monkeypatch.setattr(torch, "load", spy)
    device = torch.device("cpu")
    load_checkpoint_for_inference(checkpoint_path=path, model=TFLocoformerSEP(), device=device)
    assert seen == [((path,), {"map_location": device})]


def test_any_model_with_load_state_dict_works(tmp_path):
    torch.save({"model_state_dict": {"a": 1}, "optimizer": "ignored"}, str(tmp_path / "c.pth"))

    class Receiver:
        def load_state_dict(self, *args, **kwargs):
            self.got = (args, kwargs)

    receiver = Receiver()
    load_checkpoint_for_inference(str(tmp_path / "c.pth"), receiver, "cpu")
    assert receiver.got == (({"a": 1},), {})


def test_damaged_file_error_passes_through(tmp_path):
    (tmp_path / "bad.pth").write_bytes(b"not a checkpoint")
    with pytest.raises(Exception) as info:
        load_checkpoint_for_inference(str(tmp_path / "bad.pth"), TFLocoformerSEP(), "cpu")
    assert not isinstance(info.value, FileNotFoundError)


# ---------------------------------------------------------------- ensure_dir

@pytest.mark.parametrize("path", [None, ""])
def test_ensure_dir_ignores_false_paths(tmp_path, monkeypatch, path):
    monkeypatch.chdir(tmp_path)
    assert ensure_dir(path) is None
    assert os.listdir(tmp_path) == []


def test_ensure_dir_creates_parents_and_accepts_existing(tmp_path):
    target = tmp_path / "a" / "b" / "c"
    assert ensure_dir(path=str(target)) is None
    assert target.is_dir()
    ensure_dir(target)          # path-like, existing
    assert sorted(os.listdir(tmp_path)) == ["a"]


def test_ensure_dir_errors_pass_through(tmp_path):
    (tmp_path / "file").write_text("x")
    with pytest.raises(FileExistsError):
        ensure_dir(str(tmp_path / "file"))


# ---------------------------------------------------------------- stand-in network

def test_stand_in_network_contract():
    model = TFLocoformerSEP()
    assert isinstance(model, torch.nn.Module)
    assert any(p.requires_grad for p in model.parameters())
    assert model.to("cpu") is model
    t = np.arange(57600) / 16000
    low = 0.3 * np.sin(2 * np.pi * 300 * t)
    high = 0.1 * np.sin(2 * np.pi * 4000 * t)
    mixture = torch.tensor(low + high, dtype=torch.float32).unsqueeze(0)
    for max_speakers, count in [(1, 2), (2, 2), (4, 4)]:
        with torch.no_grad():
            _, separated = model.eval()(mixture, max_speakers)
        assert separated.shape == (1, count, 57600) and separated.dtype == torch.float32
    inner = slice(512, -512)        # the frames at the very ends see the reflected padding
    np.testing.assert_allclose(separated[0, 0, inner].numpy(), low[inner], atol=1e-3)   # the louder band first
    np.testing.assert_allclose(separated[0, 1, inner].numpy(), high[inner], atol=1e-3)
    assert torch.equal(separated[0, 2], mixture[0]) and torch.equal(separated[0, 3], mixture[0])
    torch.testing.assert_close(separated[0, 0] + separated[0, 1], mixture[0], atol=1e-6, rtol=0)
    with torch.no_grad():
        _, again = model(mixture, 4)
    assert torch.equal(again, separated)
    # With the high band louder, it leads.
    with torch.no_grad():
        _, swapped = model(torch.tensor(0.1 * low + 3 * high, dtype=torch.float32).unsqueeze(0), 2)
    np.testing.assert_allclose(swapped[0, 0, inner].numpy(), 3 * high[inner], atol=3e-3)
