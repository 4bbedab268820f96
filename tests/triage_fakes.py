"""Test doubles and inputs for the pipeline: a detector network whose rate is
set by the signal's peak level, the checkpoints it loads from, and the
utterance list."""
import numpy as np
import torch
import torch.nn as nn

from multi_speaker_detector.resnet.resnet import NoisyDetectorV2

PIVOT = 0.4


class PeakDetector(nn.Module):
    """Two class scores (0, gain * (peak - PIVOT)): a louder utterance scores
    higher. An empty input fails as the real network's STFT would, and a NaN
    sample gives a NaN score."""

    def __init__(self):
        super().__init__()
        self.gain = nn.Parameter(torch.tensor(10.0))

    def forward(self, input):
        assert input.dim() == 3 and input.shape[:2] == (1, 1) and input.dtype == torch.float32
        peak = input[0, 0].abs().amax()
        return torch.stack([torch.zeros_like(peak), self.gain * (peak - PIVOT)]).unsqueeze(0)


class OneLayer(nn.Module):
    """A detector of the user's own: one linear layer over the mean level,
    with none of the package network's attributes."""

    def __init__(self):
        super().__init__()
        self.layer = nn.Linear(1, 2)

    def forward(self, input):
        return self.layer(input.abs().mean(dim=-1))


def peak_rate(peak, gain=10.0):
    """The rate PeakDetector leads to, in the detector's single precision."""
    prob = torch.sigmoid(torch.tensor([0.0, gain * (np.float32(peak) - PIVOT)], dtype=torch.float32))
    return float((prob[1] / prob.sum()).numpy())


def save_detector_checkpoint(path, state, prefix="module.", **extra):
    torch.save({"model": {prefix + k: v for k, v in state.items()}, **extra}, str(path))
    return str(path)


def save_real_detector_checkpoint(path):
    """A checkpoint of the real detector network, its weights drawn from seed 0."""
    torch.manual_seed(0)
    return save_detector_checkpoint(path, NoisyDetectorV2().state_dict())


def write_scp(folder, entries, name="list.scp"):
    """An utterance list of (id, wav path) entries, one "<id> <path>" line each."""
    scp = folder / name
    scp.write_text("".join(f"{i} {p}\n" for i, p in entries), encoding="utf-8")
    return scp
