#include "DrmStatistics.h"

#include "../system/SmallFile.h"

#include <algorithm>
#include <string>
#include <string_view>

namespace fs = std::filesystem;

namespace {

// "card" and digits only: a card itself, not one of its connectors ("card0-HDMI-A-1").
[[nodiscard]] bool isCardName(std::string_view name) {
    constexpr std::string_view prefix = "card";
    if (name.size() <= prefix.size() || !name.starts_with(prefix))
        return false;
    name.remove_prefix(prefix.size());
    return std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

Result<std::vector<GpuStatistics>> drmStatistics(const fs::path& classDir) {
    auto names = directoryNames(classDir);
    if (!names)
        return names.failure();
    std::vector<GpuStatistics> cards;
    for (const std::string& name : *names) {
        if (!isCardName(name))
            continue;
        GpuStatistics statistics;
        if (auto busy = readSysfsInteger(classDir / name / "device" / "gpu_busy_percent"))
            statistics.emplace(deviceUtilizationKey, double(*busy));
        cards.push_back(std::move(statistics));
    }
    return cards;
}
