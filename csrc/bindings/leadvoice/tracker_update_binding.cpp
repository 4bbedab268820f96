// SpeakerTracker._update_embedding: absorbing a matched signal's embedding
// into a stored speaker by the configured strategy.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "bindings/leadvoice/tracker_parts.h"
#include "common/errors.h"
#include "pyutil/py_print.h"

namespace py = pybind11;

namespace speech {
namespace {

const char* const kDoc =
    "根据策略更新全局说话人的embedding\n\n        Args:\n"
    "            global_id: 全局说话人ID\n"
    "            new_embedding: 新提取的embedding\n"
    "            separation_quality: 分离质量（与其他信号的最大SI-SDR，越低越好）\n\n        Returns:\n"
    "            bool: 是否成功更新了embedding（用于外部日志打印）\n        ";

// The floating dtype the interpreter's arithmetic would give the blend of the
// two embeddings (float64 when neither is floating).
py::dtype blend_dtype(const py::handle& fresh, const py::handle& old) {
  const py::module_ np = py::module_::import("numpy");
  py::dtype dtype = np.attr("result_type")(fresh, old);
  if (!py::bool_(np.attr("issubdtype")(dtype, np.attr("floating")))) dtype = py::dtype::of<double>();
  return dtype;
}

// The id's history list, seeded with the stored embedding on first use, with
// `entry` appended and the oldest entry dropped past the cap.
py::list extend_history(const py::object& self, const py::object& global_id, const py::object& old,
                        const py::object& entry) {
  py::object histories = self.attr("global_speaker_embedding_history");
  if (!histories.contains(global_id)) {
    py::list seeded;
    seeded.append(old);
    histories[global_id] = seeded;
  }
  py::list history = histories[global_id];
  history.append(entry);
  if (py::int_(py::len(history)) > self.attr("max_embedding_history")) {
    if (PySequence_DelItem(history.ptr(), 0) != 0) throw py::error_already_set();
  }
  return history;
}

py::array history_mean(const py::list& history, const py::dtype& dtype) {
  std::vector<Vector> entries;
  for (const py::handle entry : history) entries.push_back(embedding_values(entry));
  return embedding_array(normalise(elementwise_mean(entries)), history[0], dtype);
}

bool update_embedding(py::object self, py::object global_id, py::object new_embedding,
                      py::object separation_quality) {
  py::object store = self.attr("global_speaker_embeddings");
  if (!store.contains(global_id)) return false;
  if (!separation_quality.is_none() &&
      PyObject_RichCompareBool(separation_quality.ptr(), self.attr("max_inter_sisdr_for_update").ptr(), Py_GT) == 1) {
    return false;
  }
  if (PyErr_Occurred()) throw py::error_already_set();
  // A vector with a nan or an infinity would poison every later similarity.
  if (!is_usable_embedding(new_embedding)) return false;

  const py::object old = store[global_id];
  const py::object strategy = self.attr("embedding_update_strategy");
  const auto is = [&](const char* name) { return strategy.equal(py::str(name)); };
  if (is("no_update")) return false;
  if (is("replace")) {
    store[global_id] = new_embedding;
    return true;
  }
  const py::dtype dtype = blend_dtype(new_embedding, old);
  const double alpha = py::float_(self.attr("ema_alpha"));
  if (is("ema")) {
    const Vector blended = blend(alpha, embedding_values(new_embedding), embedding_values(old));
    store[global_id] = embedding_array(normalise(blended), new_embedding, dtype);
    return true;
  }
  if (is("history_mean")) {
    store[global_id] = history_mean(extend_history(self, global_id, old, new_embedding), dtype);
    return true;
  }
  if (is("ema_with_history")) {
    const Vector blended = blend(alpha, embedding_values(new_embedding), embedding_values(old));
    const py::object entry = embedding_array(blended, new_embedding, dtype);
    store[global_id] = history_mean(extend_history(self, global_id, old, entry), dtype);
    return true;
  }
  throw ValueError("未知的embedding更新策略: " + py_str(strategy));
}

}  // namespace

void define_embedding_update(PlainClass& cls) {
  cls.def("_update_embedding", &update_embedding, py::arg("global_id"), py::arg("new_embedding"),
          py::arg("separation_quality") = py::none(), py::doc(kDoc));
}

}  // namespace speech
