#pragma once

#include "ServiceContract.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The one record that leaves the agent, and its two companions. Plain values: built
// whole, copied freely, compared field by field.

struct GPUReading {
    double utilizationPercent = 0;
    std::optional<double> rendererPercent;
    std::optional<double> tilerPercent;

    bool operator==(const GPUReading&) const = default;
};

struct FanReading {
    std::int64_t id = 0;
    double currentRPM = 0;
    std::optional<double> minimumRPM;
    std::optional<double> maximumRPM;

    bool operator==(const FanReading&) const = default;
};

struct SensorSnapshot {
    std::int64_t protocolVersion = contract::protocolVersion;
    double timestamp = 0; // seconds since 2001-01-01 00:00:00 UTC
    std::optional<std::string> processorName;
    std::optional<GPUReading> gpu;
    std::optional<double> cpuTemperatureCelsius;
    std::optional<double> gpuTemperatureCelsius;
    std::optional<std::int64_t> fanCount;
    std::vector<FanReading> fans;
    std::optional<std::string> pluginVersion;
    std::optional<std::int64_t> pluginBuild;

    bool operator==(const SensorSnapshot&) const = default;
};
