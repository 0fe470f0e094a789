#pragma once

#include "../Platform/GpuStatistics.h"
#include "../Shared/SensorSnapshot.h"

#include <optional>
#include <vector>

// The busiest figures over all GPUs, each statistic on its own and clamped to 0..100.
// Nothing when the GPUs could not be listed or none gives an overall utilisation.
std::optional<GPUReading>
readGPUUtilization(const std::optional<std::vector<GpuStatistics>>& statistics);

// The same for this machine's GPUs, read afresh.
std::optional<GPUReading> readGPUUtilization();
