#include "rule_transducer.h"

#include <fst/fstlib.h>

#include <cstring>
#include <fstream>
#include <string>

#include "linear_acceptor.h"

namespace TextPolishItn {
namespace {

using fst::StdArc;
using fst::StdVectorFst;

// First four bytes of every binary FST file (OpenFst keeps the constant to
// itself).
constexpr std::int32_t kFstMagic = 2125659606;

// OpenFst reports a bad header on the console; a file that does not even
// start like an FST is turned away before it gets that far.
bool StartsLikeFst(std::istream& in) {
  std::int32_t magic = 0;
  in.read(reinterpret_cast<char*>(&magic), sizeof magic);
  const bool ok = in.gcount() == sizeof magic && magic == kFstMagic;
  in.clear();
  in.seekg(0);
  return ok;
}

std::unique_ptr<StdVectorFst> ReadFst(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in || !StartsLikeFst(in)) return nullptr;
  std::unique_ptr<fst::Fst<StdArc>> read(fst::Fst<StdArc>::Read(in, fst::FstReadOptions(path)));
  if (!read || read->Properties(fst::kError, false)) return nullptr;
  auto result = std::make_unique<StdVectorFst>(*read);
  if (result->Start() == fst::kNoStateId) return nullptr;
  return result;
}

// Weights below One would break the early stop of BestPath.
bool UsableWeight(StdArc::Weight weight) {
  return weight == StdArc::Weight::Zero() || weight.Value() >= StdArc::Weight::One().Value();
}

// The input labels of `fst`, or nothing when a label is out of range or a
// weight is not usable.
std::optional<std::vector<bool>> InputAlphabet(const StdVectorFst& fst) {
  std::vector<bool> alphabet(kFirstMarkerLabel, false);
  for (fst::StateIterator<StdVectorFst> s(fst); !s.Done(); s.Next()) {
    if (!UsableWeight(fst.Final(s.Value()))) return std::nullopt;
    for (fst::ArcIterator<StdVectorFst> a(fst, s.Value()); !a.Done(); a.Next()) {
      const StdArc& arc = a.Value();
      if (arc.ilabel < 0 || arc.olabel < 0 || !UsableWeight(arc.weight)) return std::nullopt;
      if (static_cast<size_t>(arc.ilabel) >= alphabet.size()) alphabet.resize(arc.ilabel + 1, false);
      alphabet[arc.ilabel] = true;
    }
  }
  return alphabet;
}

// Every weight of the rules is at least One (Load checks it), so a
// shortest-first search may
// stop at the first complete path; the composition is expanded lazily,
// only as far as that search goes.
StdVectorFst BestPath(const fst::ComposeFst<StdArc>& composed) {
  using Queue = fst::NaturalShortestFirstQueue<StdArc::StateId, StdArc::Weight>;
  std::vector<StdArc::Weight> distance;
  Queue queue(distance);
  const fst::ShortestPathOptions<StdArc, Queue, fst::AnyArcFilter<StdArc>> options(
      &queue, fst::AnyArcFilter<StdArc>(), /*nshortest=*/1, /*unique=*/false,
      /*has_distance=*/false, fst::kShortestDelta, /*first_path=*/true);
  StdVectorFst best;
  fst::ShortestPath(composed, &best, &distance, options);
  return best;
}

// Output labels along the single path that ShortestPath leaves.
std::optional<std::vector<ItnLabel>> PathOutput(const StdVectorFst& path) {
  std::vector<ItnLabel> labels;
  auto state = path.Start();
  if (state == fst::kNoStateId) return std::nullopt;
  while (path.Final(state) == StdArc::Weight::Zero()) {
    fst::ArcIterator<StdVectorFst> arcs(path, state);
    if (arcs.Done()) return std::nullopt;
    const StdArc& arc = arcs.Value();
    if (arc.olabel != 0) labels.push_back(arc.olabel);
    state = arc.nextstate;
  }
  return labels;
}

}  // namespace

std::unique_ptr<RuleTransducer> RuleTransducer::Load(std::string_view path) {
  auto fst = ReadFst(std::string(path));
  if (!fst) return nullptr;
  auto alphabet = InputAlphabet(*fst);
  if (!alphabet) return nullptr;
  // Composition looks arcs up by input label.
  fst::ArcSort(fst.get(), fst::ILabelCompare<StdArc>());
  // Settle every property now: later property queries from the workers must
  // find nothing left to compute.
  fst->Properties(fst::kFstProperties, true);
  return std::make_unique<RuleTransducer>(std::move(fst), std::move(*alphabet));
}

RuleTransducer::RuleTransducer(std::unique_ptr<StdVectorFst> fst, std::vector<bool> alphabet)
    : fst_(std::move(fst)), alphabet_(std::move(alphabet)) {}

RuleTransducer::~RuleTransducer() = default;

bool RuleTransducer::Knows(ItnLabel label) const {
  return label > 0 && static_cast<size_t>(label) < alphabet_.size() && alphabet_[label];
}

std::optional<std::vector<TextItem>> RuleTransducer::Apply(const std::vector<TextItem>& input) const {
  std::vector<ItnLabel> labels;
  std::vector<size_t> others;  // positions of `input` that went in as kOtherLabel
  labels.reserve(input.size());
  for (size_t i = 0; i < input.size(); ++i) {
    if (input[i].label != kOtherLabel && Knows(input[i].label)) {
      labels.push_back(input[i].label);
    } else {
      labels.push_back(kOtherLabel);
      others.push_back(i);
    }
  }
  const StdVectorFst text = LinearAcceptor(labels);
  const StdVectorFst best = BestPath(fst::ComposeFst<StdArc>(text, *fst_));
  const auto output = PathOutput(best);
  if (!output) return std::nullopt;

  std::vector<TextItem> result;
  result.reserve(output->size());
  size_t next_other = 0;
  for (ItnLabel label : *output) {
    if (label != kOtherLabel) {
      result.push_back({label});
    } else if (next_other < others.size()) {
      result.push_back(input[others[next_other++]]);
    } else {
      return std::nullopt;
    }
  }
  // A rule that dropped or doubled an unknown character would misplace the
  // rest; such output is not trusted.
  if (next_other != others.size()) return std::nullopt;
  return result;
}

}  // namespace TextPolishItn
