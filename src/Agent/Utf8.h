#pragma once

#include <string>
#include <string_view>

// Well-formed UTF-8 from any bytes: each maximal ill-formed subsequence becomes U+FFFD.
std::string decodeUtf8Lossy(std::string_view bytes);
