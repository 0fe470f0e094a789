#include "Shared/SnapshotJSON.h"

#include <benchmark/benchmark.h>

namespace {

// A busy machine's snapshot: every field present, eight fans.
SensorSnapshot typicalSnapshot() {
    SensorSnapshot snapshot;
    snapshot.timestamp = 818000000.123456;
    snapshot.processorName = "Apple M5 Max";
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

void encodeCompactSnapshot(benchmark::State& state) {
    SensorSnapshot snapshot = typicalSnapshot();
    for (auto _ : state)
        benchmark::DoNotOptimize(encodeCompact(snapshot));
}
BENCHMARK(encodeCompactSnapshot);

void encodePrettySortedSnapshot(benchmark::State& state) {
    SensorSnapshot snapshot = typicalSnapshot();
    for (auto _ : state)
        benchmark::DoNotOptimize(encodePrettySorted(snapshot));
}
BENCHMARK(encodePrettySortedSnapshot);

void decodeCompactSnapshot(benchmark::State& state) {
    std::string bytes = *encodeCompact(typicalSnapshot());
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeSnapshot(bytes));
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes.size()));
}
BENCHMARK(decodeCompactSnapshot);

} // namespace
