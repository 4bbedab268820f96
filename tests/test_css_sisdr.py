import math

import numpy as np
import pytest
import torch

from leadvoice import Calculate_Scale, calculate_sisdr

T = 4000


def unit_energy(seed, n=T, dtype=torch.float32):
    x = torch.from_numpy(np.random.default_rng(seed).standard_normal(n)).to(dtype)
    x = x - x.mean()
    return x / x.pow(2).sum().sqrt()


# ---------------------------------------------------------------- calculate_sisdr

@pytest.mark.parametrize("estimation, reference", [
    (unit_energy(1), torch.zeros(T)),                       # silent reference
    (torch.zeros(T), unit_energy(1)),                       # silent estimation
    (torch.full((T,), 0.25), unit_energy(1)),               # a constant is silence once centred
    (torch.tensor([1.0, -1.0] * 8), torch.tensor([1.0, 1.0, -1.0, -1.0] * 4)),   # orthogonal
])
def test_floor_is_minus_80(estimation, reference):
    assert calculate_sisdr(estimation, reference) == -80.0


@pytest.mark.parametrize("dtype", [torch.float32, torch.float64])
def test_cap_against_itself_follows_the_energy(dtype):
    x = unit_energy(2, dtype=dtype)
    itself = calculate_sisdr(x, x)
    assert itself == pytest.approx(80.0, abs=0.01)
    assert calculate_sisdr(2 * x, x) == pytest.approx(itself + 20 * math.log10(2), abs=0.01)
    assert calculate_sisdr(x, 2 * x) == pytest.approx(itself, abs=0.01)
    assert calculate_sisdr(-x, x) == pytest.approx(itself, abs=0.01)
    assert calculate_sisdr(x, -x) == pytest.approx(itself, abs=0.01)


def test_away_from_the_cap_the_measure_is_symmetric_and_scale_free():
    s = unit_energy(3)
    noisy = s + 0.3 * unit_energy(4)
    value = calculate_sisdr(noisy, s)
    expected = -10 * math.log10(0.09)   # cot^2 of the angle: independent unit noise at 0.3
    assert value == pytest.approx(expected, abs=0.3)
    assert calculate_sisdr(s, noisy) == pytest.approx(value, abs=1e-3)
    assert calculate_sisdr(-5 * noisy, s) == pytest.approx(value, abs=1e-3)


def test_result_is_a_float_and_inputs_stay_unchanged():
    x, y = unit_energy(5), unit_energy(6)
    x0, y0 = x.clone(), y.clone()
    value = calculate_sisdr(x, y)
    assert type(value) is float
    assert torch.equal(x, x0) and torch.equal(y, y0)


def test_reduces_over_all_elements():
    batch = torch.stack([unit_energy(7), unit_energy(8)])
    assert type(calculate_sisdr(batch, batch)) is float


def test_keywords_and_eps():
    x = unit_energy(9)
    assert calculate_sisdr(reference=x, estimation=x, eps=1e-4) == pytest.approx(40.0, abs=0.01)
    assert calculate_sisdr(torch.zeros(T), torch.zeros(T), 1e-4) == pytest.approx(-40.0, abs=1e-5)


@pytest.mark.parametrize("call", [
    lambda: calculate_sisdr(torch.zeros(3)),
    lambda: calculate_sisdr(torch.zeros(3), torch.zeros(3), 1e-8, 1),
    lambda: calculate_sisdr(torch.zeros(3), torch.zeros(3), tolerance=1e-8),
    lambda: calculate_sisdr(torch.zeros(3), torch.zeros(3), estimation=torch.zeros(3)),
    lambda: calculate_sisdr(np.zeros(3), torch.zeros(3)),
])
def test_argument_errors(call):
    with pytest.raises(TypeError):
        call()


def test_nan_reaches_the_result():
    x = unit_energy(10)
    x[3] = float("nan")
    assert math.isnan(calculate_sisdr(x, unit_energy(11)))


# ---------------------------------------------------------------- Calculate_Scale

def test_gains_fit_each_row_to_the_mixture():
    mix = unit_energy(12)
    rows = torch.stack([mix, 0.5 * mix, -2.0 * mix, mix + 3.0, torch.zeros(T)])
    scale = Calculate_Scale(rows.unsqueeze(0), mix.view(1, 1, T))
    assert scale.shape == (1, 5, 1) and scale.dtype == torch.float32
    e = float(mix.pow(2).sum())
    np.testing.assert_allclose(scale.flatten().numpy(), [e / (e + 1e-8), 2.0, -0.5, 1.0, 0.0], rtol=1e-5)


def test_silent_mixture_gives_zero_gains_and_offsets_do_not_matter():
    rows = torch.stack([unit_energy(13), unit_energy(14)]).unsqueeze(0)
    assert torch.equal(Calculate_Scale(rows, torch.zeros(1, 1, T)), torch.zeros(1, 2, 1))
    mix = unit_energy(15).view(1, 1, T)
    np.testing.assert_allclose(Calculate_Scale(rows + 4.0, mix - 1.0).numpy(), Calculate_Scale(rows, mix).numpy(),
                               rtol=1e-4, atol=1e-7)


def test_batch_items_are_independent_and_dtype_is_kept():
    est = torch.stack([torch.stack([unit_energy(16), unit_energy(17)]),
                       torch.stack([unit_energy(18), unit_energy(19)])]).double()
    origin = torch.stack([unit_energy(20), unit_energy(21)]).double().unsqueeze(1)
    scale = Calculate_Scale(est, origin)
    assert scale.shape == (2, 2, 1) and scale.dtype == torch.float64
    alone = Calculate_Scale(est[1:], origin[1:])
    assert torch.allclose(scale[1:], alone)


def test_autograd_is_kept():
    est = unit_energy(22).view(1, 1, T).requires_grad_(True)
    scale = Calculate_Scale(est, unit_energy(23).view(1, 1, T))
    assert scale.requires_grad
    scale.sum().backward()
    assert est.grad is not None


def test_library_errors_pass_through():
    with pytest.raises(IndexError):
        Calculate_Scale(torch.zeros(2, T), torch.zeros(2, T))
    with pytest.raises(RuntimeError):
        Calculate_Scale(torch.zeros(1, 2, T), torch.zeros(1, 1, T + 1))
    with pytest.raises(TypeError):
        Calculate_Scale(np.zeros((1, 1, T)), torch.zeros(1, 1, T))


@pytest.mark.skipif(not torch.cuda.is_available(), reason="needs a CUDA device")
def test_measures_run_on_the_tensors_device():
    x = unit_energy(24).cuda()
    assert type(calculate_sisdr(x, x)) is float
    scale = Calculate_Scale(x.view(1, 1, T), x.view(1, 1, T))
    assert scale.device == x.device
