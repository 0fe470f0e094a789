#include "../KernelSetting.h"

#include "SmallFile.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>

std::optional<std::string> cpuModelName(std::string_view cpuinfo) {
    while (!cpuinfo.empty()) {
        std::string_view line = cpuinfo.substr(0, cpuinfo.find('\n'));
        cpuinfo.remove_prefix(std::min(cpuinfo.size(), line.size() + 1));
        if (!line.starts_with("model name"))
            continue;
        auto colon = line.find(':');
        if (colon == std::string_view::npos)
            return std::nullopt;
        // The kernel writes "model name\t: " and then the name as it is, spaces and all.
        auto start = colon + 1;
        if (start < line.size() && line[start] == ' ')
            ++start;
        return std::string(line.substr(start));
    }
    return std::nullopt;
}

int readKernelSetting(const char* name, void* buffer, std::size_t* size) {
    if (!name || !size || std::strcmp(name, "machdep.cpu.brand_string") != 0)
        return -1;
    // The kernel's answer cannot change while the process runs: read once. The name is
    // among the first processor's first lines; the rest, long on a large machine, is not.
    static const std::optional<std::string> value =
        cpuModelName(readFileStart("/proc/cpuinfo", 16384).value_or(std::string()));
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
