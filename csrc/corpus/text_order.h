#pragma once
// File names reach the interpreter as text decoded from their bytes, with
// bytes that are not UTF-8 kept as lone surrogates (U+DC80..U+DCFF). Every
// list the indexers return is in the interpreter's text order, which is
// code-point order of that decoded text: byte order agrees with it only for
// names that are valid UTF-8.
#include <string>
#include <string_view>
#include <vector>

namespace speech::corpus {

// Whether the bytes are UTF-8 as the interpreter's strict decoder accepts it
// (no surrogates, no overlong forms, nothing above U+10FFFF).
bool is_strict_utf8(std::string_view bytes);

// A byte string whose byte order is the code-point order of the decoded
// text: valid sequences as they are, each undecodable byte as the UTF-8 form
// of its stand-in surrogate. Equal keys mean equal names.
std::string text_order_key(std::string_view bytes);

// Keeps one copy of every distinct byte string and sorts the survivors by
// text order.
void sort_unique_by_text(std::vector<std::string>& names);

// The places of `keys` (text order keys) in key order, one for each
// distinct key: the first place it holds.
std::vector<size_t> distinct_in_key_order(const std::vector<std::string>& keys);

}  // namespace speech::corpus
