// textpolish inverse text normalisation engine.
//
// One engine holds two rule sets, each a tagger FST and a verbalizer FST:
// rule set 1 writes Chinese numerals as Arabic digits, rule set 2 writes the
// units after a number as symbols. The interface carries std::string in the
// copy-on-write layout (_GLIBCXX_USE_CXX11_ABI=0), which is how its callers
// are built.
#pragma once

#include <string>

#include "textpolish_itn_status.h"

#if !defined(_GLIBCXX_USE_CXX11_ABI) || _GLIBCXX_USE_CXX11_ABI
#error "textpolish_itn.h passes copy-on-write std::string: build with -D_GLIBCXX_USE_CXX11_ABI=0"
#endif

#define TEXTPOLISH_API __attribute__((visibility("default")))

namespace TextPolishItn {

struct PostItnConfig {
  PostItnConfig() : convert_number(true), unit_symbol_type(1), debug_level(0) {}

  // Off: the text comes back unchanged.
  bool convert_number;
  std::string number_rule1_str;       // tagger FST of rule set 1
  std::string number_verbalizer_str;  // verbalizer FST of rule set 1
  // 1: rule set 1 only, units stay words; 0: rule set 2 after rule set 1.
  int unit_symbol_type;
  std::string symbol_rule2_str;       // tagger FST of rule set 2
  std::string symbol_verbalizer_str;  // verbalizer FST of rule set 2
  int debug_level;                    // not used
};

// Untyped name of one engine.
typedef void* PostItn_HANDLE;

// Loads the four rule files that `config` names into a new engine. On success
// `handle` names it and the code is kPostItnOk; otherwise `handle` is null,
// which the other two functions accept, and the code says which file failed.
// `reserved` is not used.
TEXTPOLISH_API int PostItn_CreateEngine(PostItn_HANDLE& handle,
                                        const PostItnConfig& config,
                                        const std::string& reserved);

// Writes the normalised `input` to `output`, under the switches of `config`
// (its rule paths are not used). Safe to call from many threads at once on
// one handle. On a failure `output` holds `input` and the code says why.
TEXTPOLISH_API int PostItn_Process(PostItn_HANDLE handle,
                                   const PostItnConfig& config,
                                   const std::string& input,
                                   std::string& output,
                                   const std::string& reserved);

// Frees the engine; a null handle is a no-op. Always kPostItnOk.
TEXTPOLISH_API int PostItn_DestroyEngine(PostItn_HANDLE handle);

}  // namespace TextPolishItn
