#pragma once
// One line of an utterance list: "<utt_id> <wav_path>", where the path is
// the rest of the line and may hold blanks. Whitespace is every character the
// interpreter's str.isspace accepts, so ids and paths split exactly as
// str.strip() and str.split(maxsplit=1) would split them.
#include <string>

namespace speech::triage {

enum class ScpLineKind {
  kSkip,       // empty after stripping, or a "#" comment
  kEntry,      // an id and a path
  kMalformed,  // one word only
};

struct ScpLine {
  ScpLineKind kind = ScpLineKind::kSkip;
  std::string stripped;  // the line without outer whitespace
  std::string utt_id;
  std::string wav_path;
};

// `line` is UTF-8 text, its line end included or not.
ScpLine parse_scp_line(const std::string& line);

// Whether the code point counts as whitespace for the interpreter's strings.
bool is_unicode_space(char32_t code_point);

}  // namespace speech::triage
