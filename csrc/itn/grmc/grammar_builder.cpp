#include "grammar_builder.h"

#include <fst/fstlib.h>

#include <fstream>

#include "linear_acceptor.h"
#include "text_items.h"

namespace TextPolishItn::grammar {
namespace {

using fst::StdArc;
using fst::StdVectorFst;
using Kind = Node::Kind;

StdVectorFst Labels(const std::vector<ItnLabel>& labels) { return LinearAcceptor(labels); }

// Keeps one side of `fst` and makes the other side empty.
StdVectorFst OneSided(StdVectorFst fst, bool keep_input) {
  fst::Project(&fst, keep_input ? fst::ProjectType::INPUT : fst::ProjectType::OUTPUT);
  for (fst::StateIterator<StdVectorFst> s(fst); !s.Done(); s.Next()) {
    for (fst::MutableArcIterator<StdVectorFst> a(&fst, s.Value()); !a.Done(); a.Next()) {
      StdArc arc = a.Value();
      (keep_input ? arc.olabel : arc.ilabel) = 0;
      a.SetValue(arc);
    }
  }
  return fst;
}

StdVectorFst Cross(const StdVectorFst& from, const StdVectorFst& to) {
  StdVectorFst result = OneSided(from, true);
  fst::Concat(&result, OneSided(to, false));
  return result;
}

StdVectorFst Compose(StdVectorFst left, StdVectorFst right) {
  fst::ArcSort(&left, fst::OLabelCompare<StdArc>());
  fst::ArcSort(&right, fst::ILabelCompare<StdArc>());
  StdVectorFst result;
  fst::Compose(left, right, &result);
  return result;
}

bool IsAcceptor(const StdVectorFst& fst) {
  return fst.Properties(fst::kAcceptor, true) == fst::kAcceptor;
}

bool IsUnweighted(const StdVectorFst& fst) {
  return fst.Properties(fst::kUnweighted, true) == fst::kUnweighted;
}

void AddWeight(StdVectorFst* fst, double weight) {
  const StdArc::Weight extra(static_cast<float>(weight));
  for (fst::StateIterator<StdVectorFst> s(*fst); !s.Done(); s.Next()) {
    const auto final_weight = fst->Final(s.Value());
    if (final_weight != StdArc::Weight::Zero()) {
      fst->SetFinal(s.Value(), fst::Times(final_weight, extra));
    }
  }
}

StdVectorFst EmptyString() { return Labels({}); }

}  // namespace

GrammarBuilder::GrammarBuilder(const Grammar& grammar)
    : file_(grammar.path.string()), folder_(grammar.path.parent_path()) {
  for (const Definition& definition : grammar.definitions) Scan(*definition.expression);
  for (const Definition& definition : grammar.definitions) {
    if (definition.name == "SIGMA" || definitions_.count(definition.name)) {
      Fail(definition.line, "'" + definition.name + "' is already defined");
    }
    auto value = std::make_unique<StdVectorFst>(Evaluate(*definition.expression));
    fst::RmEpsilon(value.get());
    definitions_.emplace(definition.name, std::move(value));
    if (definition.exported) exported_.insert(definition.name);
  }
}

GrammarBuilder::~GrammarBuilder() = default;

void GrammarBuilder::Fail(int line, const std::string& message) const {
  throw GrammarError(file_ + ":" + std::to_string(line) + ": " + message);
}

// Collects the alphabet, the markers in order of first use and the tables,
// before any definition is built, so that SIGMA is the same everywhere.
void GrammarBuilder::Scan(const Node& node) {
  const auto add_text = [this, &node](const std::string& text) {
    for (const TextItem& item : DecodeUtf8(text)) {
      if (item.label == kOtherLabel) Fail(node.line, "text is not UTF-8");
      alphabet_.insert(item.label);
    }
  };
  if (node.kind == Kind::kString) add_text(node.text);
  if (node.kind == Kind::kMarker && !markers_.count(node.text)) {
    const auto label = static_cast<ItnLabel>(kFirstMarkerLabel + markers_.size());
    markers_.emplace(node.text, label);
  }
  if (node.kind == Kind::kStringFile && !string_files_.count(node.text)) {
    std::ifstream in(folder_ / node.text, std::ios::binary);
    if (!in) Fail(node.line, "cannot read " + (folder_ / node.text).string());
    Rows rows;
    for (std::string row; std::getline(in, row);) {
      if (!row.empty() && row.back() == '\r') row.pop_back();
      if (row.empty() || row[0] == '#') continue;
      const auto tab = row.find('\t');
      rows.emplace_back(row.substr(0, tab), tab == std::string::npos ? row : row.substr(tab + 1));
      add_text(rows.back().first);
      add_text(rows.back().second);
    }
    string_files_.emplace(node.text, std::move(rows));
  }
  for (const auto& child : node.children) Scan(*child);
}

StdVectorFst GrammarBuilder::Text(const std::string& text, int line) const {
  std::vector<ItnLabel> labels;
  for (const TextItem& item : DecodeUtf8(text)) {
    if (item.label == kOtherLabel) Fail(line, "text is not UTF-8");
    labels.push_back(item.label);
  }
  return Labels(labels);
}

StdVectorFst GrammarBuilder::Sigma() const {
  StdVectorFst fst;
  const auto start = fst.AddState();
  const auto end = fst.AddState();
  fst.SetStart(start);
  fst.SetFinal(end, StdArc::Weight::One());
  for (ItnLabel label : alphabet_) fst.AddArc(start, StdArc(label, label, StdArc::Weight::One(), end));
  fst.AddArc(start, StdArc(kOtherLabel, kOtherLabel, StdArc::Weight::One(), end));
  return fst;
}

StdVectorFst GrammarBuilder::Evaluate(const Node& node) const {
  const auto child = [&](size_t i) { return Evaluate(*node.children[i]); };
  switch (node.kind) {
    case Kind::kString:
      return Text(node.text, node.line);
    case Kind::kMarker:
      return Labels({markers_.at(node.text)});
    case Kind::kReference: {
      if (node.text == "SIGMA") return Sigma();
      const auto found = definitions_.find(node.text);
      if (found == definitions_.end()) Fail(node.line, "'" + node.text + "' is not defined before this use");
      return *found->second;
    }
    case Kind::kStringFile: {
      StdVectorFst result;
      for (const auto& [from, to] : string_files_.at(node.text)) {
        fst::Union(&result, Cross(Text(from, node.line), Text(to, node.line)));
      }
      return result;
    }
    case Kind::kInput:
    case Kind::kOutput: {
      StdVectorFst result = child(0);
      fst::Project(&result, node.kind == Kind::kInput ? fst::ProjectType::INPUT : fst::ProjectType::OUTPUT);
      return result;
    }
    case Kind::kUnion: {
      StdVectorFst result = child(0);
      fst::Union(&result, child(1));
      return result;
    }
    case Kind::kCompose:
      return Compose(child(0), child(1));
    case Kind::kDifference: {
      StdVectorFst left = child(0);
      StdVectorFst right = child(1);
      if (!IsAcceptor(left) || !IsAcceptor(right)) Fail(node.line, "'-' needs two acceptors");
      if (!IsUnweighted(right)) Fail(node.line, "the right side of '-' must be unweighted");
      // OpenFst subtracts an epsilon-free deterministic acceptor only.
      fst::RmEpsilon(&right);
      StdVectorFst subtrahend;
      fst::Determinize(right, &subtrahend);
      fst::ArcSort(&left, fst::OLabelCompare<StdArc>());
      fst::ArcSort(&subtrahend, fst::ILabelCompare<StdArc>());
      StdVectorFst result;
      fst::Difference(left, subtrahend, &result);
      return result;
    }
    case Kind::kConcat: {
      StdVectorFst result = child(0);
      fst::Concat(&result, child(1));
      return result;
    }
    case Kind::kCross:
      return Cross(child(0), child(1));
    case Kind::kStar:
    case Kind::kPlus: {
      StdVectorFst result = child(0);
      fst::Closure(&result, node.kind == Kind::kStar ? fst::CLOSURE_STAR : fst::CLOSURE_PLUS);
      return result;
    }
    case Kind::kOptional: {
      StdVectorFst result = child(0);
      fst::Union(&result, EmptyString());
      return result;
    }
    case Kind::kWeight: {
      StdVectorFst result = child(0);
      AddWeight(&result, node.weight);
      return result;
    }
  }
  Fail(node.line, "unknown expression");
}

StdVectorFst GrammarBuilder::Export(const std::string& name) const {
  if (!exported_.count(name)) throw GrammarError(file_ + ": no exported definition '" + name + "'");
  StdVectorFst result = *definitions_.at(name);
  // Encoding weights with the labels keeps determinisation finite for
  // taggers whose alternatives read the same text differently.
  fst::EncodeMapper<StdArc> encoder(fst::kEncodeLabels | fst::kEncodeWeights, fst::ENCODE);
  fst::Encode(&result, &encoder);
  fst::RmEpsilon(&result);
  StdVectorFst deterministic;
  fst::Determinize(result, &deterministic);
  fst::Minimize(&deterministic);
  fst::Decode(&deterministic, encoder);
  fst::RmEpsilon(&deterministic);
  fst::ArcSort(&deterministic, fst::ILabelCompare<StdArc>());
  return deterministic;
}

}  // namespace TextPolishItn::grammar
