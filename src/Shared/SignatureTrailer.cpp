#include "ProgramSignature.h"

#include <charconv>

namespace programsignature {

std::optional<std::size_t> signatureLength(std::string_view trailer) {
    if (trailer.size() != trailerBytes || !trailer.ends_with(marker))
        return std::nullopt;
    std::size_t length = 0;
    auto [end, error] = std::from_chars(trailer.data(), trailer.data() + 8, length, 16);
    if (error != std::errc() || end != trailer.data() + 8 || length == 0)
        return std::nullopt;
    return length;
}

} // namespace programsignature
