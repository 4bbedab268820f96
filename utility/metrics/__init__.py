"""Separation metrics: batched SI-SDR, the pairwise SI-SDR matrix and the
permutation-invariant loss, implemented in the `_metrics` extension."""
# torch first: its libraries must be loaded before the extension that links them.
import torch  # noqa: F401

from utility.metrics._metrics import PIT, Calculate_SISDR, Parwise_SISDR, permutations, torch
