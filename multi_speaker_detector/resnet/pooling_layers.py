"""Pooling layers that reduce a ResNet stage map to one vector per item.

A pooling class is built with the single keyword ``in_dim`` (the width of
one time frame of the map it will see, channels x frequency rows), reports
the width of its output through ``get_out_dim`` and is called on a map of
shape (B, channels, frequency, time).
"""

import torch
import torch.nn as nn


class TSTP(nn.Module):
    """Temporal statistics pooling.

    Each item's map is flattened to (channels x frequency, time); the pooled
    vector is the mean over time followed by the standard deviation over
    time, so it is twice as wide as one frame.

    The standard deviation is the sample (Bessel-corrected) one.  A map of a
    single frame has no spread to estimate and the corrected formula would
    divide by zero, so its variance is taken as 0 instead.  A small floor is
    added to the variance before the square root: it keeps the gradient of
    the root finite on constant or single-frame maps, so a short input gives
    a finite vector (mean, sqrt(1e-7)) rather than NaN.
    """

    VAR_FLOOR = 1e-7

    def __init__(self, in_dim):
        super(TSTP, self).__init__()
        self.in_dim = in_dim

    def forward(self, x):
        frames = x.reshape(x.shape[0], -1, x.shape[-1])
        mean = frames.mean(dim=-1)
        var = torch.var(frames, dim=-1, unbiased=frames.shape[-1] > 1)
        std = torch.sqrt(var + self.VAR_FLOOR)
        return torch.cat((mean, std), dim=-1)

    def get_out_dim(self):
        return 2 * self.in_dim
