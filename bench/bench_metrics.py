"""Speed of the metrics extension against the same formulas written with
Python-level torch ops, run in this process on the same inputs.

Ratios are baseline time / extension time: above 1 means the extension is
faster. Forward is the call alone; "fwd+bwd" adds the backward pass of the
summed result.
"""
import argparse
import itertools
import os
import statistics
import sys
import time

import torch

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from utility.metrics import PIT, Parwise_SISDR  # noqa: E402


def py_pairwise(estimation, origin, eps=1e-8):
    estimation = estimation - estimation.mean(dim=2, keepdim=True)
    origin = origin - origin.mean(dim=2, keepdim=True)
    estimation = estimation.unsqueeze(1)
    origin = origin.unsqueeze(2)
    pairwise_dot = torch.sum(origin * estimation, dim=3, keepdim=True)
    origin_energy = torch.sum(origin**2, dim=3, keepdim=True)
    pairwise_proj = pairwise_dot / (origin_energy + eps) * origin
    pairwise_err = estimation - pairwise_proj
    ratio = torch.sum(pairwise_proj**2, dim=3) / (torch.sum(pairwise_err**2, dim=3) + eps)
    return 10 * torch.log10(ratio + eps)


def py_pit(pairwise_sisdr, return_indices=False):
    nsrc = pairwise_sisdr.size(-1)
    pairwise_neg_sisdr = -pairwise_sisdr
    perms = torch.tensor(list(itertools.permutations(range(nsrc))), dtype=torch.long, device=pairwise_sisdr.device)
    idx = perms.unsqueeze(2)
    perms_one_hot = torch.zeros(perms.size() + (nsrc,), device=pairwise_sisdr.device).scatter_(2, idx, 1)
    loss_set = torch.einsum("bij,pij->bp", [pairwise_neg_sisdr, perms_one_hot])
    loss_set /= nsrc
    min_loss, min_loss_idx = loss_set.min(dim=1)
    batch_indices = torch.stack([perms[m] for m in min_loss_idx], dim=0)
    return (min_loss, batch_indices) if return_indices else min_loss


def sync(device):
    if device.type == "cuda":
        torch.cuda.synchronize()


def timed(fn, device, repeats):
    fn()
    sync(device)
    samples = []
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        sync(device)
        samples.append(time.perf_counter() - start)
    return statistics.median(samples)


def forward_backward(fn, *inputs):
    def run():
        leaves = [x.detach().requires_grad_() for x in inputs]
        fn(*leaves).sum().backward()

    return run


def row(name, base, ours):
    print(f"{name:<36} {base * 1e3:>11.3f} {ours * 1e3:>11.3f} {base / ours:>8.2f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--device", default="cpu")
    parser.add_argument("--repeats", type=int, default=20)
    parser.add_argument("--batch", type=int, default=16, help="batch size of the PIT matrices")
    args = parser.parse_args()
    device = torch.device(args.device)
    torch.manual_seed(0)

    print(f"device {device}, torch threads {torch.get_num_threads()}, median of {args.repeats}")
    print(f"{'case':<36} {'python ms':>11} {'ext ms':>11} {'ratio':>8}")
    for nsrc in range(2, 7):
        mat = torch.randn(args.batch, nsrc, nsrc, device=device)
        assert torch.equal(PIT(mat, True)[1], py_pit(mat, True)[1])
        row(f"PIT S={nsrc} fwd", timed(lambda: py_pit(mat, True), device, args.repeats),
            timed(lambda: PIT(mat, True), device, args.repeats))
        row(f"PIT S={nsrc} fwd+bwd", timed(forward_backward(py_pit, mat), device, args.repeats),
            timed(forward_backward(PIT, mat), device, args.repeats))

    est = torch.randn(16, 4, 48000, device=device)
    ori = torch.randn(16, 4, 48000, device=device)
    repeats = max(3, args.repeats // 4)
    row("Parwise_SISDR (16,4,48000) fwd", timed(lambda: py_pairwise(est, ori), device, repeats),
        timed(lambda: Parwise_SISDR(est, ori), device, repeats))
    row("Parwise_SISDR (16,4,48000) fwd+bwd", timed(forward_backward(py_pairwise, est, ori), device, repeats),
        timed(forward_backward(Parwise_SISDR, est, ori), device, repeats))


if __name__ == "__main__":
    main()
