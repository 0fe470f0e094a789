#pragma once

#include "../../GpuStatistics.h"

#include <filesystem>
#include <optional>
#include <vector>

// The kernel's DRM cards under classDir ("/sys/class/drm" on a live system): one
// dictionary per card<N>, with the device's gpu_busy_percent when it publishes one.
// Connectors such as card0-HDMI-A-1 are not cards. Nothing when classDir cannot be read.
std::optional<std::vector<GpuStatistics>> drmStatistics(const std::filesystem::path& classDir);
