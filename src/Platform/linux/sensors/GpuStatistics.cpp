#include "../../GpuStatistics.h"

#include "DrmStatistics.h"
#include "NvmlDevices.h"

// Every DRM card, then every NVIDIA device. An NVIDIA card appears in both lists; that
// is harmless, as readings take the highest figure, never a sum or mean.
std::optional<std::vector<GpuStatistics>> readGpuStatistics() {
    auto cards = drmStatistics("/sys/class/drm");
    auto nvidia = readSystemNvmlDevices(NvmlQuery::utilization);
    if (!cards && !nvidia)
        return std::nullopt;
    std::vector<GpuStatistics> all = cards.value_or(std::vector<GpuStatistics>());
    for (const NvmlDeviceReadings& device : nvidia.value_or(std::vector<NvmlDeviceReadings>())) {
        GpuStatistics& statistics = all.emplace_back();
        if (device.utilizationPercent)
            statistics.emplace(deviceUtilizationKey, *device.utilizationPercent);
    }
    return all;
}
