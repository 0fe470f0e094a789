#include "DrmStatistics.h"

#include "SmallFile.h"

#include <algorithm>
#include <charconv>
#include <string>
#include <string_view>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// "card" and digits only: a card itself, not one of its connectors ("card0-HDMI-A-1").
bool isCardName(std::string_view name) {
    constexpr std::string_view prefix = "card";
    if (name.size() <= prefix.size() || !name.starts_with(prefix))
        return false;
    name.remove_prefix(prefix.size());
    return std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The whole number a sysfs attribute holds, as the kernel writes a percentage; nothing
// when the file cannot be read (a sleeping device may refuse) or holds something else.
std::optional<double> readNumber(const fs::path& file) {
    auto text = readSysfsAttribute(file);
    if (!text)
        return std::nullopt;
    long long value = 0;
    const char* end = text->data() + text->size();
    auto [parsed, error] = std::from_chars(text->data(), end, value);
    if (error != std::errc() || parsed != end)
        return std::nullopt;
    return double(value);
}

} // namespace

std::optional<std::vector<GpuStatistics>> drmStatistics(const fs::path& classDir) {
    auto names = directoryNames(classDir);
    if (!names)
        return std::nullopt;
    std::vector<GpuStatistics> cards;
    for (const std::string& name : *names) {
        if (!isCardName(name))
            continue;
        GpuStatistics statistics;
        if (auto busy = readNumber(classDir / name / "device" / "gpu_busy_percent"))
            statistics.emplace(deviceUtilizationKey, *busy);
        cards.push_back(std::move(statistics));
    }
    return cards;
}
