#pragma once

#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

// One value of a GPU driver's statistics: a number, a text, or something of another
// kind (std::monostate), which no reading ever uses.
using StatisticValue = std::variant<double, std::string, std::monostate>;

// The statistics one GPU publishes, by the driver's own key names.
using GpuStatistics = std::map<std::string, StatisticValue>;

// The key under which a GPU reports how busy it is, in percent.
inline constexpr const char* deviceUtilizationKey = "Device Utilization %";

// One dictionary per GPU of this machine, each read afresh. Nothing when the GPUs
// cannot be listed at all.
std::optional<std::vector<GpuStatistics>> readGpuStatistics();
