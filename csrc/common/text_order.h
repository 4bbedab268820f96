#pragma once
// File names reach the interpreter as text decoded from their bytes, with
// bytes that are not UTF-8 kept as lone surrogates (U+DC80..U+DCFF). Names
// and paths are sorted in the interpreter's text order, which is code-point
// order of that decoded text: byte order agrees with it only for names that
// are valid UTF-8 (b"\xff" decodes to U+DCFF, which sorts before U+E000
// although its byte is larger).
#include <algorithm>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace speech::common {

// Whether the bytes are UTF-8 as the interpreter's strict decoder accepts it
// (no surrogates, no overlong forms, nothing above U+10FFFF).
bool is_strict_utf8(std::string_view bytes);

// A byte string whose byte order is the code-point order of the decoded
// text: valid sequences as they are, each undecodable byte as the UTF-8 form
// of its stand-in surrogate. Equal keys mean equal names.
std::string text_order_key(std::string_view bytes);

// Sorts `items` by the text order of name(item), items of equal names in
// the order they came.
template <typename T, typename Name>
void sort_by_text(std::vector<T>& items, const Name& name) {
  const bool plain = std::all_of(items.begin(), items.end(), [&name](const T& item) { return is_strict_utf8(name(item)); });
  if (plain) {
    std::stable_sort(items.begin(), items.end(), [&name](const T& a, const T& b) { return name(a) < name(b); });
    return;
  }
  std::vector<std::pair<std::string, T>> keyed;
  keyed.reserve(items.size());
  for (T& item : items) keyed.emplace_back(text_order_key(name(item)), std::move(item));
  std::stable_sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  items.clear();
  for (auto& entry : keyed) items.push_back(std::move(entry.second));
}

// Keeps one copy of every distinct byte string and sorts the survivors by
// text order.
void sort_unique_by_text(std::vector<std::string>& names);

// The places of `keys` (text order keys) in key order, one for each
// distinct key: the first place it holds.
std::vector<size_t> distinct_in_key_order(const std::vector<std::string>& keys);

}  // namespace speech::common
