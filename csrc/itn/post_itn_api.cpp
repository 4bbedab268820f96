// The textpolish interface; built with the copy-on-write std::string like its
// callers. Only std::string_view and std::vector<char> cross into the engine,
// whose OpenFst side uses the other string layout.
#include "textpolish_itn.h"

#include <memory>
#include <vector>

#include "itn_engine.h"

namespace TextPolishItn {

int PostItn_CreateEngine(PostItn_HANDLE& handle, const PostItnConfig& config,
                         const std::string& /*reserved*/) {
  handle = nullptr;
  std::unique_ptr<ItnEngine> engine;
  const int code = ItnEngine::Create({config.number_rule1_str, config.number_verbalizer_str,
                                      config.symbol_rule2_str, config.symbol_verbalizer_str},
                                     &engine);
  // The handle owns the engine until PostItn_DestroyEngine takes it back.
  if (code == kPostItnOk) handle = engine.release();
  return code;
}

int PostItn_Process(PostItn_HANDLE handle, const PostItnConfig& config, const std::string& input,
                    std::string& output, const std::string& /*reserved*/) {
  try {
    const auto* engine = static_cast<const ItnEngine*>(handle);
    if (engine == nullptr) {
      output = input;
      return kPostItnNoEngine;
    }
    std::vector<char> normalized;
    const int code = engine->Normalize(input, config.convert_number,
                                       config.unit_symbol_type == 0, &normalized);
    output.assign(normalized.data(), normalized.size());
    return code;
  } catch (const std::bad_alloc&) {
    return kPostItnInternalError;
  }
}

int PostItn_DestroyEngine(PostItn_HANDLE handle) {
  std::unique_ptr<ItnEngine> owned(static_cast<ItnEngine*>(handle));
  return kPostItnOk;
}

}  // namespace TextPolishItn
