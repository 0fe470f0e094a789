#include "KernelText.h"

#include "../Platform/KernelSetting.h"
#include "Utf8.h"

#include <algorithm>
#include <string_view>
#include <vector>

std::optional<std::string> sysctlString(const std::string& name, const KernelSettingReader& read) {
    std::size_t size = 0;
    if (read(name.c_str(), nullptr, &size) != 0 || size < 2)
        return std::nullopt;
    std::vector<char> buffer(size, '\0');
    std::size_t filled = buffer.size();
    if (read(name.c_str(), buffer.data(), &filled) != 0)
        return std::nullopt;
    // A buffer without a zero byte ends at its own end; nothing past it is read.
    auto end = std::find(buffer.begin(), buffer.end(), '\0');
    return decodeUtf8Lossy(std::string_view(buffer.data(), std::size_t(end - buffer.begin())));
}

std::optional<std::string> sysctlString(const std::string& name) {
    return sysctlString(name, readKernelSetting);
}
