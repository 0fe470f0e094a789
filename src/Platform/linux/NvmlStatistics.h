#pragma once

#include "../GpuStatistics.h"

#include <optional>
#include <vector>

// NVIDIA GPUs through the management library loaded from `library` at run time
// ("libnvidia-ml.so.1" on a live system): one dictionary per device, with its GPU
// utilisation when the device answers. Nothing when the library cannot be loaded or
// initialised or will not count its devices. The library is shut down and unloaded
// before returning; one the loader could not find is not looked for again.
std::optional<std::vector<GpuStatistics>> nvmlStatistics(const char* library);
