#include "ArmProcessorName.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace {

struct Implementer {
    unsigned code;
    std::string_view name;
};

// From Arm's architecture reference manual's list of implementer codes.
constexpr std::array implementers{
    Implementer{0x41, "ARM"},     Implementer{0x42, "Broadcom"},  Implementer{0x43, "Cavium"},
    Implementer{0x46, "Fujitsu"}, Implementer{0x48, "HiSilicon"}, Implementer{0x4e, "NVIDIA"},
    Implementer{0x50, "APM"},     Implementer{0x51, "Qualcomm"},  Implementer{0x53, "Samsung"},
    Implementer{0x56, "Marvell"}, Implementer{0x61, "Apple"},     Implementer{0x69, "Intel"},
    Implementer{0xc0, "Ampere"},
};

struct Part {
    unsigned implementer;
    unsigned code;
    std::string_view name;
};

// The cores found in boards and servers, from each core's technical reference manual.
constexpr std::array parts{
    Part{0x41, 0xd03, "Cortex-A53"},  Part{0x41, 0xd04, "Cortex-A35"},
    Part{0x41, 0xd05, "Cortex-A55"},  Part{0x41, 0xd07, "Cortex-A57"},
    Part{0x41, 0xd08, "Cortex-A72"},  Part{0x41, 0xd09, "Cortex-A73"},
    Part{0x41, 0xd0a, "Cortex-A75"},  Part{0x41, 0xd0b, "Cortex-A76"},
    Part{0x41, 0xd0c, "Neoverse-N1"}, Part{0x41, 0xd0d, "Cortex-A77"},
    Part{0x41, 0xd40, "Neoverse-V1"}, Part{0x41, 0xd41, "Cortex-A78"},
    Part{0x41, 0xd44, "Cortex-X1"},   Part{0x41, 0xd46, "Cortex-A510"},
    Part{0x41, 0xd47, "Cortex-A710"}, Part{0x41, 0xd48, "Cortex-X2"},
    Part{0x41, 0xd49, "Neoverse-N2"}, Part{0x41, 0xd4f, "Neoverse-V2"},
    Part{0x43, 0x0a1, "ThunderX"},    Part{0x43, 0x0af, "ThunderX2"},
    Part{0x46, 0x001, "A64FX"},       Part{0x48, 0xd01, "TaiShan v110"},
    Part{0x4e, 0x004, "Carmel"},      Part{0xc0, 0xac3, "Ampere-1"},
};

std::optional<unsigned> hexadecimal(std::string_view text) {
    if (!text.starts_with("0x"))
        return std::nullopt;
    text.remove_prefix(2);
    unsigned value = 0;
    auto [stop, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.empty() || error != std::errc() || stop != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::string hexText(unsigned value, int digits) {
    std::string text(std::size_t(digits), '0');
    for (int i = digits - 1; i >= 0; --i, value >>= 4)
        text[std::size_t(i)] = "0123456789abcdef"[value & 0xf];
    return "0x" + text;
}

} // namespace

std::optional<std::string> armProcessorName(std::string_view implementerText,
                                            std::string_view partText) {
    auto implementer = hexadecimal(implementerText);
    auto part = hexadecimal(partText);
    if (!implementer || !part)
        return std::nullopt;
    auto maker = std::find_if(implementers.begin(), implementers.end(),
                              [&](const Implementer& known) { return known.code == *implementer; });
    auto core = std::find_if(parts.begin(), parts.end(), [&](const Part& known) {
        return known.implementer == *implementer && known.code == *part;
    });
    std::string name = maker != implementers.end() ? std::string(maker->name)
                                                   : "implementer " + hexText(*implementer, 2);
    if (core != parts.end())
        return name + " " + std::string(core->name);
    return name + " part " + hexText(*part, 3);
}
