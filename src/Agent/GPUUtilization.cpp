#include "GPUUtilization.h"

#include <cmath>

namespace {

// Older drivers report overall activity only under this key.
constexpr const char* gpuActivityKey = "GPU Activity(%)";
constexpr const char* rendererUtilizationKey = "Renderer Utilization %";
constexpr const char* tilerUtilizationKey = "Tiler Utilization %";

// Only a finite number counts; texts and other kinds give nothing.
std::optional<double> countingValue(const GpuStatistics& statistics, const char* key) {
    auto found = statistics.find(key);
    if (found == statistics.end())
        return std::nullopt;
    const double* number = std::get_if<double>(&found->second);
    if (!number || !std::isfinite(*number))
        return std::nullopt;
    return *number;
}

void foldMaximum(std::optional<double>& maximum, std::optional<double> value) {
    if (value && (!maximum || *value > *maximum))
        maximum = value;
}

double clampPercent(double value) {
    if (value <= 0)
        return 0.0;
    return value > 100 ? 100.0 : value;
}

std::optional<double> clampPercent(std::optional<double> value) {
    return value ? std::optional<double>(clampPercent(*value)) : std::nullopt;
}

} // namespace

std::optional<GPUReading>
readGPUUtilization(const std::optional<std::vector<GpuStatistics>>& statistics) {
    if (!statistics)
        return std::nullopt;
    std::optional<double> device, renderer, tiler;
    for (const GpuStatistics& gpu : *statistics) {
        auto deviceValue = countingValue(gpu, deviceUtilizationKey);
        foldMaximum(device, deviceValue ? deviceValue : countingValue(gpu, gpuActivityKey));
        foldMaximum(renderer, countingValue(gpu, rendererUtilizationKey));
        foldMaximum(tiler, countingValue(gpu, tilerUtilizationKey));
    }
    if (!device)
        return std::nullopt;
    return GPUReading{clampPercent(*device), clampPercent(renderer), clampPercent(tiler)};
}

std::optional<GPUReading> readGPUUtilization() {
    return readGPUUtilization(readGpuStatistics());
}
