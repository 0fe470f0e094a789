#include "../KernelSetting.h"

#include "SmallFile.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace {

// The processor's name as the kernel reports it: the first "model name" line. It is
// among the first processor's first lines; the rest, long on a large machine, is not read.
std::optional<std::string> cpuModelName() {
    auto text = readFileStart("/proc/cpuinfo", 16384);
    std::string_view rest = text ? std::string_view(*text) : std::string_view();
    while (!rest.empty()) {
        std::string_view line = rest.substr(0, rest.find('\n'));
        rest.remove_prefix(std::min(rest.size(), line.size() + 1));
        if (!line.starts_with("model name"))
            continue;
        auto colon = line.find(':');
        if (colon == std::string::npos)
            return std::nullopt;
        auto start = line.find_first_not_of(" \t", colon + 1);
        return std::string(start == std::string::npos ? std::string_view() : line.substr(start));
    }
    return std::nullopt;
}

} // namespace

int readKernelSetting(const char* name, void* buffer, std::size_t* size) {
    if (!name || !size || std::strcmp(name, "machdep.cpu.brand_string") != 0)
        return -1;
    // The kernel's answer cannot change while the process runs: read it once.
    static const std::optional<std::string> value = cpuModelName();
    if (!value)
        return -1;
    std::size_t needed = value->size() + 1;
    if (!buffer) {
        *size = needed;
        return 0;
    }
    if (*size < needed)
        return -1;
    std::memcpy(buffer, value->c_str(), needed);
    *size = needed;
    return 0;
}
