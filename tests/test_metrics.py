import itertools
import math

import numpy as np
import pytest
import torch

import utility.metrics as metrics
from helpers import ROOT, launch
from utility.metrics import PIT, Calculate_SISDR, Parwise_SISDR

SHAPE_MSG = "Estimated and original sources should have same shape."
NSRC_MSG = "1st dimension should be nsrc and 2nd dimension should be nsample"


# ---------------------------------------------------------------- references


def np_sisdr(x, y, eps=1e-8):
    """SI-SDR of one estimate x against one reference y, in float64."""
    x = np.asarray(x, np.float64) - np.mean(x)
    y = np.asarray(y, np.float64) - np.mean(y)
    proj = (np.dot(x, y) / (np.dot(y, y) + eps)) * y
    err = x - proj
    return 10 * np.log10(np.dot(proj, proj) / (np.dot(err, err) + eps) + eps)


def np_pairwise(est, ori, eps=1e-8):
    est, ori = est.detach().numpy(), ori.detach().numpy()
    B, S, _ = est.shape
    return np.array([[[np_sisdr(est[b, j], ori[b, i], eps) for j in range(S)] for i in range(S)] for b in range(B)])


def np_pit(mat):
    """Brute force over itertools order: (losses, perms) with the first minimum."""
    mat = mat.detach().numpy().astype(np.float64)
    S = mat.shape[-1]
    losses, idx = [], []
    for item in mat:
        best = None
        for perm in itertools.permutations(range(S)):
            loss = -sum(item[i, perm[i]] for i in range(S)) / S
            if best is None or loss < best[0]:
                best = (loss, perm)
        losses.append(best[0])
        idx.append(best[1])
    return np.array(losses), np.array(idx)


def torch_pit(mat):
    """The loss as plain torch ops, one-hot in the default dtype."""
    nsrc = mat.size(-1)
    perms = torch.tensor(list(itertools.permutations(range(nsrc))), dtype=torch.long)
    one_hot = torch.zeros(perms.size() + (nsrc,)).scatter_(2, perms.unsqueeze(2), 1)
    loss_set = torch.einsum("bij,pij->bp", [-mat, one_hot]) / nsrc
    min_loss, min_idx = loss_set.min(dim=1)
    return min_loss, torch.stack([perms[m] for m in min_idx], dim=0)


@pytest.fixture
def swapped_pair():
    """Two orthogonal zero-mean references; each estimate is the other
    reference plus 0.1 of its own."""
    r0 = torch.tensor([1.0, -1.0, 1.0, -1.0], dtype=torch.float64)
    r1 = torch.tensor([1.0, 1.0, -1.0, -1.0], dtype=torch.float64)
    ref = torch.stack([r0, r1])[None]
    est = torch.stack([r1 + 0.1 * r0, r0 + 0.1 * r1])[None]
    return est, ref


# ---------------------------------------------------------------- SI-SDR


def test_swapped_two_sources(swapped_pair):
    est, ref = swapped_pair
    pairwise = Parwise_SISDR(est, ref)
    # eps moves the scores by a few microdecibels.
    close = dict(rtol=0, atol=1e-5)
    torch.testing.assert_close(pairwise, torch.tensor([[[-20.0, 20.0], [20.0, -20.0]]], dtype=torch.float64), **close)
    torch.testing.assert_close(Calculate_SISDR(est, ref), torch.tensor([[-20.0, -20.0]], dtype=torch.float64), **close)
    loss, idx = PIT(pairwise, return_indices=True)
    torch.testing.assert_close(loss, torch.tensor([-20.0], dtype=torch.float64), **close)
    assert idx.tolist() == [[1, 0]]
    # Indexing the estimates with the pairing puts them in reference order.
    assert torch.equal(est[0, idx[0]], torch.stack([ref[0, 0] + 0.1 * ref[0, 1], ref[0, 1] + 0.1 * ref[0, 0]]))


@pytest.mark.parametrize("shape", [(3, 4, 50), (2, 1, 20), (1, 5, 7)])
@pytest.mark.parametrize("eps", [1e-8, 1e-3])
def test_agrees_with_float64_formula(shape, eps):
    gen = torch.Generator().manual_seed(sum(shape))
    est = torch.randn(shape, generator=gen, dtype=torch.float64)
    ori = torch.randn(shape, generator=gen, dtype=torch.float64) + 0.5 * est
    expected = np_pairwise(est, ori, eps)
    pairwise = Parwise_SISDR(est, ori, eps)
    single = Calculate_SISDR(est, ori, eps=eps)
    np.testing.assert_allclose(pairwise.numpy(), expected, rtol=0, atol=1e-10)
    np.testing.assert_allclose(single.numpy(), np.diagonal(expected, axis1=1, axis2=2), rtol=0, atol=1e-10)


def test_pairwise_layout_is_reference_then_estimate():
    gen = torch.Generator().manual_seed(3)
    ori = torch.randn(2, 3, 40, generator=gen, dtype=torch.float64)
    est = torch.randn(2, 3, 40, generator=gen, dtype=torch.float64)
    pairwise = Parwise_SISDR(est, ori)
    for i, j in [(0, 2), (2, 0), (1, 2)]:
        expected = Calculate_SISDR(est[:, j : j + 1], ori[:, i : i + 1])[:, 0]
        torch.testing.assert_close(pairwise[:, i, j], expected, rtol=0, atol=1e-10)


def _silent_reference():
    est, ori = torch.randn(1, 2, 16), torch.randn(1, 2, 16)
    ori[0, 1] = 3.0  # constant counts as silent once the mean is gone
    return est, ori, (0, 1, slice(None))


def _constant_estimate():
    est, ori = torch.randn(1, 2, 16), torch.randn(1, 2, 16)
    est[0, 0] = 0.0
    return est, ori, (0, slice(None), 0)


def _orthogonal():
    ori = torch.tensor([[[1.0, -1.0, 1.0, -1.0], [1.0, 1.0, -1.0, -1.0]]])
    return ori.flip(1).clone(), ori, (0, [0, 1], [0, 1])


@pytest.mark.parametrize(
    "make",
    [_silent_reference, _constant_estimate, _orthogonal],
    ids=["silent-reference-row", "constant-estimate-column", "orthogonal-diagonal"],
)
def test_floor_of_minus_80_db(make):
    torch.manual_seed(0)
    est, ori, cells = make()
    pairwise = Parwise_SISDR(est, ori)
    torch.testing.assert_close(pairwise[cells], torch.full((2,), 10 * math.log10(1e-8)))
    torch.testing.assert_close(Calculate_SISDR(est, ori), torch.diagonal(pairwise, dim1=1, dim2=2))


def test_single_sample_scores_floor_and_perfect_estimate_is_finite():
    x = torch.randn(2, 3, 1)
    torch.testing.assert_close(Calculate_SISDR(x, 2 * x), torch.full((2, 3), -80.0))
    sig = torch.randn(1, 2, 64, dtype=torch.float64)
    for scale in (1.0, -2.0):
        score = Calculate_SISDR(scale * sig, sig)
        energy = ((scale * sig - (scale * sig).mean(2, keepdim=True)) ** 2).sum(2)
        assert torch.isfinite(score).all()
        torch.testing.assert_close(score, 10 * torch.log10(energy / 1e-8), rtol=0, atol=1e-3)


def test_zero_eps_removes_guards():
    ori = torch.zeros(1, 1, 8)
    assert torch.isnan(Calculate_SISDR(torch.randn(1, 1, 8), ori, 0)).all()
    ref = torch.tensor([[[1.0, -1.0, 1.0, -1.0]]])
    assert Calculate_SISDR(torch.tensor([[[1.0, 1.0, -1.0, -1.0]]]), ref, eps=0.0).item() == -math.inf


def test_calculate_broadcasts_and_takes_any_layout():
    gen = torch.Generator().manual_seed(5)
    est = torch.randn(2, 3, 30, generator=gen)
    ori = torch.randn(2, 1, 30, generator=gen)
    torch.testing.assert_close(Calculate_SISDR(est, ori), Calculate_SISDR(est, ori.expand(2, 3, 30)))
    assert Calculate_SISDR(torch.randn(2, 6, 4), torch.randn(2, 6, 4)).shape == (2, 6)
    with pytest.raises(IndexError):
        Calculate_SISDR(torch.randn(2, 30), torch.randn(2, 30))
    with pytest.raises(RuntimeError, match="must match"):
        Calculate_SISDR(torch.randn(2, 3, 30), torch.randn(2, 3, 31))


def test_dtype_promotion_and_inputs_unchanged():
    est = torch.randn(2, 3, 20)
    ori = torch.randn(2, 3, 20, dtype=torch.float64)
    copies = est.clone(), ori.clone()
    assert Calculate_SISDR(est, ori).dtype == torch.float64
    assert Parwise_SISDR(est, ori).dtype == torch.float64
    assert Calculate_SISDR(est, est).dtype == torch.float32
    mat = Parwise_SISDR(est, ori.float())
    mat_copy = mat.clone()
    loss, idx = PIT(mat, True)
    assert (loss.dtype, idx.dtype) == (torch.float32, torch.long)
    assert torch.equal(est, copies[0]) and torch.equal(ori, copies[1]) and torch.equal(mat, mat_copy)


def test_float32_results_equal_torch_formula():
    """Same ops in the same order: bit-for-bit what the formula gives."""
    gen = torch.Generator().manual_seed(11)
    est = torch.randn(4, 3, 500, generator=gen)
    ori = torch.randn(4, 3, 500, generator=gen)
    e, o = est - est.mean(dim=2, keepdim=True), ori - ori.mean(dim=2, keepdim=True)
    e, o = e.unsqueeze(1), o.unsqueeze(2)
    proj = torch.sum(o * e, dim=3, keepdim=True) / (torch.sum(o**2, dim=3, keepdim=True) + 1e-8) * o
    ratio = torch.sum(proj**2, dim=3) / (torch.sum((e - proj) ** 2, dim=3) + 1e-8)
    assert torch.equal(Parwise_SISDR(est, ori), 10 * torch.log10(ratio + 1e-8))


# ---------------------------------------------------------------- gradients


def test_sisdr_gradients():
    gen = torch.Generator().manual_seed(2)
    est = torch.randn(2, 2, 12, generator=gen, dtype=torch.float64, requires_grad=True)
    ori = torch.randn(2, 2, 12, generator=gen, dtype=torch.float64, requires_grad=True)
    assert torch.autograd.gradcheck(Calculate_SISDR, (est, ori))
    assert torch.autograd.gradcheck(Parwise_SISDR, (est, ori))


@pytest.mark.parametrize("nsrc", [1, 2, 3, 4])
@pytest.mark.parametrize("dtype", [torch.float32, torch.float64])
def test_pit_gradient_is_minus_one_over_nsrc_at_chosen_entries(nsrc, dtype):
    gen = torch.Generator().manual_seed(nsrc)
    mat = torch.randn(5, nsrc, nsrc, generator=gen, dtype=dtype, requires_grad=True)
    loss, idx = PIT(mat, return_indices=True)
    loss.sum().backward()
    expected = torch.zeros(5, nsrc, nsrc, dtype=dtype)
    expected.scatter_(2, idx.unsqueeze(2), -1.0 / nsrc)
    assert torch.equal(mat.grad, expected)


def test_gradient_flows_from_signals_through_pit():
    gen = torch.Generator().manual_seed(4)
    est = torch.randn(2, 3, 100, generator=gen, requires_grad=True)
    ori = torch.randn(2, 3, 100, generator=gen)
    PIT(Parwise_SISDR(est, ori)).mean().backward()
    assert est.grad is not None and torch.isfinite(est.grad).all() and est.grad.abs().sum() > 0


# ---------------------------------------------------------------- PIT


@pytest.mark.parametrize("seed", [0, 1, 2])
def test_pit_recovers_random_permutations(seed):
    gen = torch.Generator().manual_seed(seed)
    ref = torch.randn(4, 3, 800, generator=gen)
    shuffles = torch.stack([torch.randperm(3, generator=gen) for _ in range(4)])
    est = torch.stack([ref[b, shuffles[b]] for b in range(4)]) + 0.1 * torch.randn(4, 3, 800, generator=gen)
    loss, idx = PIT(Parwise_SISDR(est, ref), return_indices=True)
    assert torch.equal(idx, torch.argsort(shuffles, dim=1))
    assert (loss < -15).all()


@pytest.mark.parametrize("nsrc", [1, 2, 3, 4, 5])
def test_pit_matches_brute_force_float64(nsrc):
    gen = torch.Generator().manual_seed(10 + nsrc)
    mat = 20 * torch.randn(6, nsrc, nsrc, generator=gen, dtype=torch.float64)
    loss, idx = PIT(mat, True)
    exp_loss, exp_idx = np_pit(mat)
    assert loss.dtype == torch.float64
    np.testing.assert_allclose(loss.numpy(), exp_loss, rtol=0, atol=1e-10)
    assert idx.tolist() == exp_idx.tolist()


@pytest.mark.parametrize("nsrc", [2, 3, 5, 6])
def test_pit_float32_matches_default_dtype_formula(nsrc):
    gen = torch.Generator().manual_seed(nsrc)
    mat = 30 * torch.randn(7, nsrc, nsrc, generator=gen)
    loss, idx = PIT(mat, True)
    exp_loss, exp_idx = torch_pit(mat)
    assert torch.equal(loss, exp_loss) and torch.equal(idx, exp_idx)


def _tie_s3():
    mat = torch.zeros(1, 3, 3)
    for i, j in [(0, 0), (1, 2), (2, 1), (0, 1), (1, 0), (2, 2)]:
        mat[0, i, j] = 1.0
    return mat


@pytest.mark.parametrize(
    "mat, expected_idx, expected_loss",
    [
        (torch.full((2, 2, 2), 4.0), [[0, 1], [0, 1]], [-4.0, -4.0]),
        (_tie_s3(), [[0, 2, 1]], [-1.0]),
        (torch.eye(4)[None] * 5 + 1, [[0, 1, 2, 3]], [-6.0]),
    ],
    ids=["s2-all-equal", "s3-first-of-two", "diagonal-identity"],
)
def test_pit_ties_keep_first_pairing(mat, expected_idx, expected_loss):
    loss, idx = PIT(mat, True)
    assert idx.tolist() == expected_idx
    torch.testing.assert_close(loss, torch.tensor(expected_loss))


@pytest.mark.parametrize("nsrc", [3, 4])
def test_pit_tie_order_is_itertools_order(nsrc):
    # Small integers give many tied pairings per item.
    gen = torch.Generator().manual_seed(7)
    mat = torch.randint(0, 3, (64, nsrc, nsrc), generator=gen).float()
    assert PIT(mat, True)[1].tolist() == np_pit(mat)[1].tolist()


def test_pit_nan_item_does_not_spread():
    gen = torch.Generator().manual_seed(9)
    mat = torch.randn(3, 3, 3, generator=gen, dtype=torch.float64)
    clean = mat.clone()
    mat[1, 2, 0] = math.nan
    loss, idx = PIT(mat, True)
    assert torch.isnan(loss[1]) and not torch.isnan(loss[[0, 2]]).any()
    exp_loss, exp_idx = np_pit(clean)
    np.testing.assert_allclose(loss[[0, 2]].numpy(), exp_loss[[0, 2]], rtol=0, atol=1e-12)
    assert idx[[0, 2]].tolist() == exp_idx[[0, 2]].tolist()
    assert idx.shape == (3, 3) and sorted(idx[1].tolist()) == [0, 1, 2]


def test_pit_single_source():
    mat = torch.tensor([[[3.0]], [[-2.5]], [[0.0]]])
    loss, idx = PIT(mat, True)
    torch.testing.assert_close(loss, torch.tensor([-3.0, 2.5, 0.0]))
    assert idx.dtype == torch.long and idx.tolist() == [[0], [0], [0]]


def test_empty_batch():
    assert Parwise_SISDR(torch.randn(0, 2, 8), torch.randn(0, 2, 8)).shape == (0, 2, 2)
    assert Calculate_SISDR(torch.randn(0, 2, 8), torch.randn(0, 2, 8)).shape == (0, 2)
    for flag in (False, True):
        with pytest.raises(RuntimeError, match="non-empty"):
            PIT(torch.zeros(0, 2, 2), flag)


def test_pit_refuses_non_square_or_non_3d():
    with pytest.raises(RuntimeError):
        PIT(torch.zeros(2, 3))
    with pytest.raises(RuntimeError):
        PIT(torch.zeros(2, 2, 3))


@pytest.mark.parametrize("flag", [True, 1, [0], "x", 2.5])
def test_return_indices_true_values(flag):
    result = PIT(torch.randn(2, 2, 2), flag)
    assert isinstance(result, tuple) and len(result) == 2 and result[1].shape == (2, 2)


@pytest.mark.parametrize("flag", [False, 0, None, [], ""])
def test_return_indices_false_values(flag):
    result = PIT(torch.randn(2, 2, 2), return_indices=flag)
    assert isinstance(result, torch.Tensor) and result.shape == (2,)


# ---------------------------------------------------------------- errors


@pytest.mark.parametrize(
    "est_shape, ori_shape, exc, message",
    [
        ((2, 3, 8), (3, 3, 8), AssertionError, SHAPE_MSG),
        ((2, 3, 8), (2, 2, 8), AssertionError, SHAPE_MSG),
        ((2, 3, 8), (2, 3, 9), AssertionError, SHAPE_MSG),
        ((2, 4, 4), (2, 4, 4), AssertionError, NSRC_MSG),
        ((2, 5, 4), (2, 5, 3), AssertionError, SHAPE_MSG),
        ((2, 8), (2, 3, 8), ValueError, "not enough values to unpack (expected 3, got 2)"),
        ((2, 3, 8, 1), (2, 3, 8), ValueError, "too many values to unpack (expected 3)"),
        ((2, 3, 8), (8,), ValueError, "not enough values to unpack (expected 3, got 1)"),
        ((2, 8), (1, 2, 3, 8), ValueError, "not enough values to unpack (expected 3, got 2)"),
    ],
)
def test_pairwise_argument_checks(est_shape, ori_shape, exc, message):
    with pytest.raises(exc) as info:
        Parwise_SISDR(torch.randn(est_shape), torch.randn(ori_shape))
    assert str(info.value) == message


def test_checks_skipped_when_optimised():
    code = """
import torch
from utility.metrics import Parwise_SISDR, PIT
print(tuple(Parwise_SISDR(torch.randn(2, 3, 8), torch.randn(2, 1, 8)).shape))
print(tuple(Parwise_SISDR(torch.randn(2, 4, 4), torch.randn(2, 4, 4)).shape))
for call in (lambda: Parwise_SISDR(torch.randn(2, 8), torch.randn(2, 8)), lambda: PIT(torch.zeros(0, 2, 2))):
    try:
        call()
    except Exception as e:
        print(type(e).__name__, e)
"""
    result = launch("-O", "-c", code, cwd=ROOT)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "(2, 1, 3)",
        "(2, 4, 4)",
        "ValueError not enough values to unpack (expected 3, got 2)",
        "RuntimeError stack expects a non-empty TensorList",
    ]


def _sisdr_sig(estimation, origin, eps=1e-8):
    pass


def _pit_sig(pairwise_sisdr, return_indices=False):
    pass


T = torch.randn(1, 2, 4)


@pytest.mark.parametrize(
    "func, stub, args, kwargs",
    [
        (Calculate_SISDR, _sisdr_sig, (), {}),
        (Calculate_SISDR, _sisdr_sig, (T,), {}),
        (Parwise_SISDR, _sisdr_sig, (T, T, 1e-8, 1), {}),
        (Parwise_SISDR, _sisdr_sig, (T, T), {"epsilon": 1}),
        (Calculate_SISDR, _sisdr_sig, (T,), {"estimation": T}),
        (Calculate_SISDR, _sisdr_sig, (T, T, 1e-8, 1), {"origin": T}),
        (PIT, _pit_sig, (), {"return_indices": True}),
        (PIT, _pit_sig, (T, True, 1), {}),
    ],
)
def test_argument_errors_have_interpreter_texts(func, stub, args, kwargs):
    with pytest.raises(TypeError) as expected:
        stub(*args, **kwargs)
    with pytest.raises(TypeError) as got:
        func(*args, **kwargs)
    assert str(got.value) == str(expected.value).replace("_sisdr_sig", func.__name__).replace("_pit_sig", "PIT")


def test_keyword_arguments_accepted():
    est, ori = torch.randn(2, 2, 10), torch.randn(2, 2, 10)
    torch.testing.assert_close(Parwise_SISDR(origin=ori, estimation=est, eps=1e-3), Parwise_SISDR(est, ori, 1e-3))
    torch.testing.assert_close(Calculate_SISDR(est, origin=ori), Calculate_SISDR(est, ori))
    mat = Parwise_SISDR(est, ori)
    assert torch.equal(PIT(pairwise_sisdr=mat), PIT(mat))


# ---------------------------------------------------------------- module


def test_module_surface():
    import itertools as it

    assert metrics.torch is torch and metrics.permutations is it.permutations
    docs = {
        Calculate_SISDR: ["estimation: (batch, nsrc, nsample)", "origin: (batch, nsrc, nsample)", "pair_sisdr: (batch, nsrc)"],
        Parwise_SISDR: ["estimation: (batch, nsrc, nsample)", "origin: (batch, nsrc, nsample)", "pairwise_sisdr: (batch, nsrc, nsrc)"],
        PIT: ["pairwise_sisdr: (batch, nsrc, nsrc)", "return_indices: boolean", "min_loss: (batch,)", "batch_indices: (batch, nsrc)"],
    }
    for func, lines in docs.items():
        doc_lines = [line.strip() for line in func.__doc__.splitlines()]
        assert "Args:" in doc_lines and "Returns:" in doc_lines
        assert all(line in doc_lines for line in lines)


def test_main_module_program():
    result = launch("-m", "utility.metrics", cwd=ROOT)
    assert (result.returncode, result.stdout, result.stderr) == (0, "", "")
    import runpy

    namespace = runpy.run_module("utility.metrics", run_name="__main__")
    torch.manual_seed(0)
    sources, est_sources = torch.randn(3, 3, 5), torch.randn(3, 3, 5)
    assert torch.equal(namespace["sources"], sources) and torch.equal(namespace["est_sources"], est_sources)
    assert not torch.equal(sources, est_sources)


@pytest.mark.skipif(not torch.cuda.is_available(), reason="needs CUDA")
def test_cuda_device_kept():
    gen = torch.Generator().manual_seed(0)
    est, ori = torch.randn(3, 4, 200, generator=gen), torch.randn(3, 4, 200, generator=gen)
    est_c = est.cuda().requires_grad_()
    pairwise = Parwise_SISDR(est_c, ori.cuda())
    single = Calculate_SISDR(est_c, ori.cuda())
    loss, idx = PIT(pairwise, True)
    assert {t.device.type for t in (pairwise, single, loss, idx)} == {"cuda"}
    torch.testing.assert_close(pairwise.cpu(), Parwise_SISDR(est, ori), rtol=1e-4, atol=1e-4)
    assert torch.equal(idx.cpu(), PIT(Parwise_SISDR(est, ori), True)[1])
    loss.sum().backward()
    assert est_c.grad.device.type == "cuda"
    mat64 = torch.randn(2, 3, 3, dtype=torch.float64, device="cuda")
    assert PIT(mat64).dtype == torch.float64
