"""Stand-in for the trained separation network, for tests and the demo only.

The real ``TFLocoformerSEP`` is a trained time-frequency separation model
loaded from a checkpoint. This layer keeps its calling surface: it builds
without arguments, loads a checkpoint strictly through ``load_state_dict``
and is called as ``model(mixture [1, T], max_speakers)``, returning a pair
whose second item holds the separated signals [1, S, T], sample-aligned
with the input, S = max(2, max_speakers).

What it does instead of separating: an STFT band split at ``split_hz``
(a real parameter, 2000 Hz, so a strict load has something to check). The
band below the split and the band above it become two outputs, the louder
band first, so a window with one talker leads with that talker; they add up
to the mixture exactly. Every further output is a copy of the mixture,
which the SI-SDR test against the mixture refuses. Talkers that keep to
different bands are therefore separated perfectly and deterministically.
Item 0 of the result is the mixture's spectrogram.
"""
import torch
import torch.nn as nn

SAMPLE_RATE = 16000
N_FFT = 512
HOP = 128
SPLIT_HZ = 2000.0


class TFLocoformerSEP(nn.Module):
    def __init__(self):
        super().__init__()
        self.split_hz = nn.Parameter(torch.tensor(SPLIT_HZ))
        self.register_buffer("window", torch.hann_window(N_FFT))

    def forward(self, mixture, max_speakers):
        length = mixture.shape[-1]
        spectrum = torch.stft(mixture, N_FFT, HOP, window=self.window, center=True, return_complex=True)
        freqs = torch.arange(spectrum.shape[-2], device=mixture.device, dtype=mixture.dtype) * (SAMPLE_RATE / N_FFT)
        low_mask = (freqs < self.split_hz).to(spectrum.dtype).unsqueeze(-1)
        low = torch.istft(spectrum * low_mask, N_FFT, HOP, window=self.window, center=True, length=length)
        high = mixture - low
        bands = [low, high]
        if high.pow(2).sum() > low.pow(2).sum():
            bands.reverse()
        copies = [mixture] * (max(2, int(max_speakers)) - 2)
        return spectrum, torch.stack(bands + copies, dim=1)


def write_checkpoint(path, wrapped=True, model=None):
    """Saves the weights of `model` (a fresh network by default) to `path`,
    under "model_state_dict" beside training entries, or as the bare state
    dict when `wrapped` is false. Returns the path."""
    state = (model if model is not None else TFLocoformerSEP()).state_dict()
    payload = {"model_state_dict": state, "epoch": 0, "optimizer_state_dict": {}} if wrapped else state
    torch.save(payload, path)
    return path
