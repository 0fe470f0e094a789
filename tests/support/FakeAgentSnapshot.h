#pragma once

#include "Shared/SensorSnapshot.h"

// What the stand-in agents put in their replies.
inline SensorSnapshot fakeAgentSnapshot() {
    SensorSnapshot snapshot;
    snapshot.timestamp = 786000000.75;
    snapshot.processorName = "Fake Processor";
    snapshot.gpu = GPUReading{25, std::nullopt, std::nullopt};
    snapshot.cpuTemperatureCelsius = 52.5;
    snapshot.fanCount = 1;
    snapshot.fans = {FanReading{0, 1900, 1200, 6000}};
    snapshot.pluginVersion = "0.0.1";
    snapshot.pluginBuild = 7;
    return snapshot;
}
