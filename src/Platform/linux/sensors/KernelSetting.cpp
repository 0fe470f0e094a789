#include "../../KernelSetting.h"

#include "../system/FileDescriptor.h"
#include "ArmProcessorName.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <string>
#include <unistd.h>

namespace {

// The first processor's part of /proc/cpuinfo, or as much of it as holds its "model
// name". Read in small pieces: the kernel writes each processor's part only when a read
// reaches it, and on a large machine the others cost far more than the lines we want.
std::string cpuinfoStart() {
    constexpr std::size_t limit = 16384;
    std::string text;
    FileDescriptor file(::open("/proc/cpuinfo", O_RDONLY | O_CLOEXEC));
    char piece[256];
    ssize_t count = 0;
    while (file && text.size() < limit && (count = ::read(file.get(), piece, sizeof piece)) > 0) {
        text.append(piece, std::size_t(count));
        auto name = text.find("\nmodel name");
        if (text.find("\n\n") != std::string::npos ||
            (name != std::string::npos && text.find('\n', name + 1) != std::string::npos))
            break;
    }
    return text;
}

// The value of the first line of `block` that starts with `field`: the text after its
// colon and the one space the kernel writes there.
std::optional<std::string_view> fieldValue(std::string_view block, std::string_view field) {
    while (!block.empty()) {
        std::string_view line = block.substr(0, block.find('\n'));
        block.remove_prefix(std::min(block.size(), line.size() + 1));
        if (!line.starts_with(field))
            continue;
        auto colon = line.find(':');
        if (colon == std::string_view::npos)
            return std::nullopt;
        auto start = colon + 1;
        if (start < line.size() && line[start] == ' ')
            ++start;
        return line.substr(start);
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> cpuModelName(std::string_view cpuinfo) {
    std::string_view first = cpuinfo.substr(0, cpuinfo.find("\n\n"));
    // The kernel writes the name as it is, spaces and all.
    if (auto name = fieldValue(first, "model name"))
        return std::string(*name);
    // arm64 writes no name, only the codes of the processor's identification.
    auto implementer = fieldValue(first, "CPU implementer");
    auto part = fieldValue(first, "CPU part");
    if (implementer && part)
        return armProcessorName(*implementer, *part);
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
