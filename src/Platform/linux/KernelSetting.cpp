#include "../KernelSetting.h"

#include "FileDescriptor.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <unistd.h>

namespace {

// The start of /proc/cpuinfo, up to the end of its first "model name" line. Read in small
// pieces: the kernel writes each processor's part only when a read reaches it, and on a
// large machine the others cost far more than the one line we want.
std::string cpuinfoStart() {
    constexpr std::size_t limit = 16384;
    std::string text;
    FileDescriptor file(::open("/proc/cpuinfo", O_RDONLY | O_CLOEXEC));
    char piece[256];
    ssize_t count = 0;
    while (file && text.size() < limit && (count = ::read(file.get(), piece, sizeof piece)) > 0) {
        text.append(piece, std::size_t(count));
        auto name = text.find("\nmodel name");
        if (name != std::string::npos && text.find('\n', name + 1) != std::string::npos)
            break;
    }
    return text;
}

} // namespace

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
    // The kernel's answer cannot change while the process runs: read once.
    static const std::optional<std::string> value = cpuModelName(cpuinfoStart());
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
