#include "../GpuStatistics.h"

#include "DrmStatistics.h"
#include "NvmlStatistics.h"

#include <cstdlib>
#include <unistd.h>

namespace {

// Without NVIDIA's kernel driver its library can only fail to start, and the loader's
// search for it costs dozens of failed look-ups. Folders given to the loader by the
// environment may hold a library of their own, so those are searched all the same.
bool nonEmpty(const char* text) {
    return text && *text;
}

bool mayHaveNvidiaLibrary() {
    return ::access("/proc/driver/nvidia", F_OK) == 0 || nonEmpty(std::getenv("LD_LIBRARY_PATH"));
}

} // namespace

// Every DRM card, then every NVIDIA device. An NVIDIA card appears in both lists; that
// is harmless, as readings take the highest figure, never a sum or mean.
std::optional<std::vector<GpuStatistics>> readGpuStatistics() {
    auto cards = drmStatistics("/sys/class/drm");
    auto nvidia = mayHaveNvidiaLibrary() ? nvmlStatistics("libnvidia-ml.so.1") : std::nullopt;
    if (!cards && !nvidia)
        return std::nullopt;
    std::vector<GpuStatistics> all = cards.value_or(std::vector<GpuStatistics>());
    if (nvidia)
        all.insert(all.end(), nvidia->begin(), nvidia->end());
    return all;
}
