// rms, preserve_rms, _scale_for_sir and _mix_noise_at_snr. Plain float32 and
// float64 arrays (the training stream's signals) are measured and scaled in
// C++ with the types NumPy would give the same expressions; any other input
// (another dtype, a subclass, a non-contiguous view) runs those expressions
// through NumPy itself, so every input gets NumPy's own result.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>

#include "bindings/utility/blendkit/signal_arrays.h"
#include "bindings/utility/blendkit/signal_calls.h"
#include "mixsim/signal_levels.h"

namespace py = pybind11;

namespace speech {
namespace {

using namespace signal_arrays;

constexpr double kNoiseFloor = 1e-9;

template <typename T>
bool rms_in_place(const py::object& x, double eps, double& level) {
  if (!holds_samples<T>(x)) return false;
  level = mixsim::rms_level(in_place_samples<T>(x), eps);
  return true;
}

py::object rms_through_numpy(const py::object& x, const py::object& eps) {
  const py::object np = blendkit_attr("np");
  const py::object wide = x.attr("astype")(np.attr("float64"));
  const py::object squares = power(wide, py::int_(2));
  // float(...): a plain float, not NumPy's float64 subclass of it.
  PyObject* level = PyNumber_Float(np.attr("sqrt")(np.attr("mean")(squares) + eps).ptr());
  if (level == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::object>(level);
}

// x * gain as NumPy computes it for a plain float gain: a float32 array stays
// float32 unless the gain is too large for it.
template <typename T>
py::object scaled_in_place(const py::object& x, double gain) {
  py::array_t<T> out = new_array_like<T>(x);
  mixsim::scale_samples<T, T>(in_place_samples<T>(x), static_cast<T>(gain), out.mutable_data());
  return std::move(out);
}

bool can_scale_in_place(const py::object& x, const py::object& gain) {
  if (!PyFloat_Check(gain.ptr())) return false;
  if (holds_samples<double>(x)) return true;
  return holds_samples<float>(x) && fits_float32(gain.cast<double>());
}

py::object times(const py::object& x, const py::object& gain) {
  if (!can_scale_in_place(x, gain)) return x * gain;
  const double g = gain.cast<double>();
  return holds_samples<float>(x) ? scaled_in_place<float>(x, g) : scaled_in_place<double>(x, g);
}

// (x * gain).astype(float32).
py::object times_as_float32(const py::object& x, const py::object& gain) {
  if (!can_scale_in_place(x, gain)) return (x * gain).attr("astype")(blendkit_attr("np").attr("float32"));
  const double g = gain.cast<double>();
  if (holds_samples<float>(x)) return scaled_in_place<float>(x, g);
  py::array_t<float> out = new_array_like<float>(x);
  mixsim::scale_samples<double, float>(in_place_samples<double>(x), g, out.mutable_data());
  return std::move(out);
}

// The noise fitted to n samples, as its window start (a long enough noise,
// one draw) or as a repetition from its start (a shorter one, no draw).
struct NoiseFit {
  bool window = false;
  py::object start;  // the drawn start, for a window
};

NoiseFit fit_noise(const py::object& clean, const py::object& noise, const py::object& rng) {
  const py::object n = py::getattr(clean, "size");
  const py::object m = py::getattr(noise, "size");
  NoiseFit fit;
  if (!less_than(m, n)) {
    fit.window = true;
    fit.start = rng.attr("randint")(py::int_(0), m - n);
    return fit;
  }
  // reps = int(np.ceil(n / noise.size)): an empty noise fails here, before
  // anything is drawn or mixed.
  (void)(n / m);
  return fit;
}

py::object fitted_through_numpy(const py::object& clean, const py::object& noise, const NoiseFit& fit) {
  const py::object np = blendkit_attr("np");
  const py::object n = py::getattr(clean, "size");
  if (fit.window) return noise[py::slice(fit.start, fit.start + n, py::none())];
  const py::object reps = py::int_(np.attr("ceil")(n / py::getattr(noise, "size")));
  return np.attr("tile")(noise, reps)[py::slice(py::none(), n, py::none())];
}

py::object mix_through_numpy(const py::object& clean, const py::object& noise, const py::object& snr_db,
                             const NoiseFit& fit) {
  const py::object np = blendkit_attr("np");
  const py::object noise_seg = fitted_through_numpy(clean, noise, fit);
  const py::float_ eps(kNoiseFloor);
  const py::object rms_clean = np.attr("sqrt")(np.attr("mean")(power(clean, py::int_(2))) + eps);
  const py::object rms_noise = np.attr("sqrt")(np.attr("mean")(power(noise_seg, py::int_(2))) + eps);
  const py::object target_noise_rms = rms_clean / power(py::int_(10), snr_db / py::float_(20.0));
  const py::object scaled_noise = noise_seg * (target_noise_rms / rms_noise);
  return (clean + scaled_noise).attr("astype")(np.attr("float32"));
}

// The fast path needs both signals as plain 1-D arrays of one float type, a
// plain number for the SNR and a drawn start that is a valid window.
template <typename T>
bool mix_in_place(const py::object& clean, const py::object& noise, const py::object& snr_db, const NoiseFit& fit,
                  py::object& mixed) {
  if (!holds_samples<T>(clean) || !holds_samples<T>(noise) || !is_plain_number(snr_db)) return false;
  if (py::reinterpret_borrow<py::array>(clean).ndim() != 1 || py::reinterpret_borrow<py::array>(noise).ndim() != 1) {
    return false;
  }
  const common::SampleView<const T> c = in_place_samples<T>(clean);
  mixsim::FittedNoise<T> seg;
  seg.noise = in_place_samples<T>(noise);
  seg.length = c.size();
  if (fit.window) {
    if (!PyLong_Check(fit.start.ptr())) return false;
    seg.start = fit.start.cast<int64_t>();
    if (seg.start < 0 || seg.start > seg.noise.size() - seg.length) return false;
  }
  const double gain =
      mixsim::noise_gain_for_snr(static_cast<double>(mixsim::mean_square(c)),
                                 static_cast<double>(mixsim::mean_square(seg)), snr_db.cast<double>());
  if (!fits_float32(gain) && sizeof(T) == sizeof(float)) return false;
  py::array_t<float> out(static_cast<py::ssize_t>(seg.length));
  mixsim::add_scaled_noise(c, seg, static_cast<T>(gain), out.mutable_data());
  mixed = std::move(out);
  return true;
}

}  // namespace

py::object rms(const py::object& x, const py::object& eps) {
  if (x.is_none() || size_is_zero(x)) return py::float_(0.0);
  if (is_plain_number(eps)) {
    const double e = eps.cast<double>();
    double level = 0.0;
    if (rms_in_place<float>(x, e, level) || rms_in_place<double>(x, e, level) ||
        rms_in_place<int16_t>(x, e, level) || rms_in_place<int32_t>(x, e, level) ||
        rms_in_place<int64_t>(x, e, level)) {
      return py::float_(level);
    }
  }
  return rms_through_numpy(x, eps);
}

py::object preserve_rms(const py::object& orig, const py::object& processed, const py::object& eps) {
  const py::object level = blendkit_attr("rms");
  const py::object r_orig = level(orig);
  const py::object r_proc = level(processed);
  if (less_than(r_proc, eps)) return processed;
  return times(processed, r_orig / r_proc);
}

py::object scale_for_sir(const py::object& target, const py::object& interferer, const py::object& sir_db) {
  const py::object level = blendkit_attr("rms");
  const py::object rt = level(target);
  const py::object ri = level(interferer);
  if (ri.equal(py::float_(0.0))) {
    const py::object np = blendkit_attr("np");
    return np.attr("zeros_like")(interferer, py::arg("dtype") = np.attr("float32"));
  }
  const py::object k = rt / (ri * power(py::float_(10.0), sir_db / py::float_(20.0)));
  return times_as_float32(interferer, k);
}

py::object mix_noise_at_snr(const py::object& clean, const py::object& noise, const py::object& snr_db,
                            const py::object& rng) {
  if (size_is_zero(clean)) return clean;
  const NoiseFit fit = fit_noise(clean, noise, rng);
  py::object mixed;
  if (mix_in_place<float>(clean, noise, snr_db, fit, mixed) || mix_in_place<double>(clean, noise, snr_db, fit, mixed)) {
    return mixed;
  }
  return mix_through_numpy(clean, noise, snr_db, fit);
}

}  // namespace speech
