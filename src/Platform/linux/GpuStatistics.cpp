#include "../GpuStatistics.h"

#include "DrmStatistics.h"
#include "NvmlStatistics.h"

// Every DRM card, then every NVIDIA device. An NVIDIA card appears in both lists; that
// is harmless, as readings take the highest figure, never a sum or mean.
std::optional<std::vector<GpuStatistics>> readGpuStatistics() {
    auto cards = drmStatistics("/sys/class/drm");
    auto nvidia = nvmlStatistics("libnvidia-ml.so.1");
    if (!cards && !nvidia)
        return std::nullopt;
    std::vector<GpuStatistics> all = cards.value_or(std::vector<GpuStatistics>());
    if (nvidia)
        all.insert(all.end(), nvidia->begin(), nvidia->end());
    return all;
}
