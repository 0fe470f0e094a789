#include "Utf8.h"

namespace {

constexpr std::string_view replacement = "\xEF\xBF\xBD";

// Length of the well-formed sequence starting at bytes[i], or of its maximal
// prefix that could still begin one (negated), per Unicode's table of well-formed UTF-8.
int sequenceLength(std::string_view bytes, std::size_t i) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
    unsigned char lead = byte(i);
    if (lead < 0x80)
        return 1;
    int length;
    unsigned char low = 0x80, high = 0xBF; // range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F;
    } else
        return -1;
    for (int k = 1; k < length; ++k) {
        if (i + std::size_t(k) >= bytes.size())
            return -k;
        unsigned char next = byte(i + std::size_t(k));
        bool fits = k == 1 ? (next >= low && next <= high) : (next >= 0x80 && next <= 0xBF);
        if (!fits)
            return -k;
    }
    return length;
}

} // namespace

std::string decodeUtf8Lossy(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t i = 0;
    while (i < bytes.size()) {
        int length = sequenceLength(bytes, i);
        if (length > 0) {
            text.append(bytes.substr(i, std::size_t(length)));
            i += std::size_t(length);
        } else {
            text.append(replacement);
            i += std::size_t(-length);
        }
    }
    return text;
}
