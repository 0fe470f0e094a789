#include "../KernelSetting.h"

#include <cstring>
#include <fstream>
#include <optional>
#include <string>

namespace {

// The processor's name as the kernel reports it: the first "model name" line.
std::optional<std::string> cpuModelName() {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) != 0)
            continue;
        auto colon = line.find(':');
        if (colon == std::string::npos)
            return std::nullopt;
        auto start = line.find_first_not_of(" \t", colon + 1);
        return start == std::string::npos ? std::string() : line.substr(start);
    }
    return std::nullopt;
}

} // namespace

int readKernelSetting(const char* name, void* buffer, std::size_t* size) {
    if (!name || !size || std::strcmp(name, "machdep.cpu.brand_string") != 0)
        return -1;
    auto value = cpuModelName();
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
