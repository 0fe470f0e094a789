#pragma once

#include <cstddef>
#include <string_view>

// The number of user-perceived characters (extended grapheme clusters) in UTF-8 text.
// An ill-formed sequence counts as one character per replacement character.
std::size_t graphemeCount(std::string_view utf8);
