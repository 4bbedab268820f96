#include "itn_engine.h"

#include <new>

#include "rule_transducer.h"
#include "textpolish_itn_status.h"

namespace TextPolishItn {
namespace {

constexpr int kLoadFailure[4] = {kPostItnBadTaggerRule1, kPostItnBadVerbalizerRule1,
                                 kPostItnBadTaggerRule2, kPostItnBadVerbalizerRule2};

void CopyInput(std::string_view input, std::vector<char>* output) {
  output->assign(input.begin(), input.end());
}

}  // namespace

int ItnEngine::Create(const RulePaths& paths, std::unique_ptr<ItnEngine>* engine) noexcept {
  engine->reset();
  try {
    std::array<std::unique_ptr<RuleTransducer>, 4> rules;
    for (size_t i = 0; i < rules.size(); ++i) {
      rules[i] = RuleTransducer::Load(paths[i]);
      if (!rules[i]) return kLoadFailure[i];
    }
    *engine = std::make_unique<ItnEngine>(std::move(rules));
    return kPostItnOk;
  } catch (const std::bad_alloc&) {
    return kPostItnInternalError;
  }
}

ItnEngine::ItnEngine(std::array<std::unique_ptr<RuleTransducer>, 4> rules)
    : rules_(std::move(rules)) {}

ItnEngine::~ItnEngine() = default;

int ItnEngine::Normalize(std::string_view input, bool convert_number, bool unit_symbols,
                         std::vector<char>* output) const noexcept {
  try {
    output->clear();
    if (!convert_number) {
      CopyInput(input, output);
      return kPostItnOk;
    }
    const size_t stages = unit_symbols ? 4 : 2;
    std::optional<std::vector<TextItem>> text = DecodeUtf8(input);
    for (size_t i = 0; i < stages && text; ++i) text = rules_[i]->Apply(*text);
    if (text && EncodeUtf8(*text, output)) return kPostItnOk;
    CopyInput(input, output);
    return kPostItnUnparsed;
  } catch (const std::bad_alloc&) {
    output->clear();
    return kPostItnInternalError;
  }
}

}  // namespace TextPolishItn
