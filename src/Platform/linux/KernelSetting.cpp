#include "../KernelSetting.h"

#include <cstring>
#include <fstream>
#include <optional>
#include <string>

std::optional<std::string> cpuModelName(std::istream& cpuinfo) {
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) != 0)
            continue;
        auto colon = line.find(':');
        if (colon == std::string::npos)
            return std::nullopt;
        // The kernel writes "model name\t: " and then the name as it is, spaces and all.
        auto start = colon + 1;
        if (start < line.size() && line[start] == ' ')
            ++start;
        return line.substr(start);
    }
    return std::nullopt;
}

int readKernelSetting(const char* name, void* buffer, std::size_t* size) {
    if (!name || !size || std::strcmp(name, "machdep.cpu.brand_string") != 0)
        return -1;
    std::ifstream cpuinfo("/proc/cpuinfo");
    auto value = cpuModelName(cpuinfo);
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
