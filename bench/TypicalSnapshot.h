#pragma once

#include "Shared/SensorSnapshot.h"

// A busy machine's snapshot: every field present, eight fans.
inline SensorSnapshot typicalSnapshot() {
    SensorSnapshot snapshot;
    snapshot.timestamp = 818000000.123456;
    snapshot.processorName = "Intel(R) Core(TM) i9-9980HK CPU @ 2.40GHz";
    snapshot.gpu = GPUReading{43.5, 40.25, 12.0};
    snapshot.cpuTemperatureCelsius = 61.833333333333336;
    snapshot.gpuTemperatureCelsius = 54.25;
    snapshot.fanCount = 8;
    for (std::int64_t id = 0; id < 8; ++id)
        snapshot.fans.push_back(FanReading{id, 1850.5 + double(id), 1200, 6500});
    snapshot.pluginVersion = "1.0.0";
    snapshot.pluginBuild = 42;
    return snapshot;
}
