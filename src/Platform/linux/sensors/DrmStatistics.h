#pragma once

#include "../../GpuStatistics.h"
#include "../system/Result.h"

#include <filesystem>
#include <vector>

// The kernel's DRM cards under classDir ("/sys/class/drm" on a live system): one
// dictionary per card<N>, with the device's gpu_busy_percent when it publishes one.
// Connectors such as card0-HDMI-A-1 are not cards. A failure when classDir cannot be read.
Result<std::vector<GpuStatistics>> drmStatistics(const std::filesystem::path& classDir);
