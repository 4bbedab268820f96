// SpeakerTracker._update_embedding: the stored speaker and its history read
// into plain vectors for the update core, whose plan is then carried out on
// the tracker's own dictionaries and lists.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <optional>
#include <string>
#include <vector>

#include "bindings/leadvoice/tracker_parts.h"
#include "common/errors.h"
#include "pyutil/float_value.h"
#include "pyutil/py_print.h"
#include "tracker/embedding_update.h"

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

tracker::UpdateStrategy strategy_of(const py::object& self) {
  const py::object strategy = self.attr("embedding_update_strategy");
  std::optional<tracker::UpdateStrategy> named;
  if (py::isinstance<py::str>(strategy)) named = tracker::update_strategy_named(pyutil::py_str(strategy));
  if (!named) throw tracker::unknown_strategy_error(pyutil::py_str(strategy));
  return *named;
}

std::optional<std::vector<tracker::Vector>> history_of(const py::object& histories, const py::object& global_id) {
  if (!histories.contains(global_id)) return std::nullopt;
  const py::object list = histories[global_id];
  std::vector<tracker::Vector> entries;
  for (const py::handle entry : list) entries.push_back(embedding_values(entry));
  return entries;
}

// Carries out the plan's history steps; returns the list's oldest entry,
// whose shape the stored mean takes.
py::object apply_history(const py::object& histories, const py::object& global_id, const py::object& old,
                         const py::object& fresh, const tracker::EmbeddingUpdate& plan, const py::dtype& dtype) {
  if (plan.seeds_history) {
    py::list seeded;
    seeded.append(old);
    histories[global_id] = seeded;
  }
  py::list history = histories[global_id];
  history.append(plan.appends_fresh ? fresh : py::object(embedding_array(*plan.appended, fresh, dtype)));
  if (plan.drops_oldest && PySequence_DelItem(history.ptr(), 0) != 0) throw py::error_already_set();
  return history[0];
}

bool update_embedding(py::object self, py::object global_id, py::object new_embedding, py::object separation_quality) {
  py::object store = self.attr("global_speaker_embeddings");
  // An id outside the store is refused before anything else is read.
  if (!store.contains(global_id)) return false;
  const std::optional<double> quality =
      separation_quality.is_none() ? std::nullopt : std::optional<double>(pyutil::float_value(separation_quality));
  if (!tracker::accepts_update(quality, pyutil::float_value(self.attr("max_inter_sisdr_for_update")),
                               is_usable_embedding(new_embedding))) {
    return false;
  }

  const py::object old = store[global_id];
  const tracker::UpdateStrategy strategy = strategy_of(self);
  const py::object histories = self.attr("global_speaker_embedding_history");
  const std::optional<std::vector<tracker::Vector>> history = history_of(histories, global_id);
  const tracker::EmbeddingUpdate plan = tracker::plan_embedding_update(
      strategy, py::float_(self.attr("ema_alpha")), pyutil::float_value(self.attr("max_embedding_history")),
      embedding_values(old), embedding_values(new_embedding), history ? &*history : nullptr);
  switch (plan.stored) {
    case tracker::EmbeddingUpdate::Stored::kUnchanged:
      return false;
    case tracker::EmbeddingUpdate::Stored::kFresh:
      store[global_id] = new_embedding;
      return true;
    case tracker::EmbeddingUpdate::Stored::kComputed:
      break;
  }
  const py::dtype dtype = blend_dtype(new_embedding, old);
  const py::object like =
      plan.touches_history() ? apply_history(histories, global_id, old, new_embedding, plan, dtype) : new_embedding;
  store[global_id] = embedding_array(plan.computed, like, dtype);
  return true;
}

}  // namespace

void define_embedding_update(pyutil::PlainClass& cls) {
  cls.def("_update_embedding", &update_embedding, py::arg("global_id"), py::arg("new_embedding"),
          py::arg("separation_quality") = py::none(), py::doc(kDoc));
}

}  // namespace speech
