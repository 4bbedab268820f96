#pragma once

#include <filesystem>
#include <string_view>

#include "grammar_ast.h"

namespace TextPolishItn::grammar {

// Throws GrammarError naming the file and line.
Grammar ParseGrammar(std::string_view source, const std::filesystem::path& path);
Grammar ParseGrammarFile(const std::filesystem::path& path);

}  // namespace TextPolishItn::grammar
