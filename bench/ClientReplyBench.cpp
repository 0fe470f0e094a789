#include "App/ReplyDecoding.h"
#include "App/SnapshotPlausibility.h"
#include "Shared/SnapshotJSON.h"

#include <benchmark/benchmark.h>

namespace {

// A busy machine's snapshot: every field present, eight fans.
SensorSnapshot typicalSnapshot() {
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

// Everything the client does with a reply's bytes.
void checkTypicalReply(benchmark::State& state) {
    std::string bytes = *encodeCompact(typicalSnapshot());
    for (auto _ : state)
        benchmark::DoNotOptimize(decodeReply(bytes));
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes.size()));
}
BENCHMARK(checkTypicalReply);

void plausibilityOfTypicalSnapshot(benchmark::State& state) {
    SensorSnapshot snapshot = typicalSnapshot();
    for (auto _ : state)
        benchmark::DoNotOptimize(isValid(snapshot));
}
BENCHMARK(plausibilityOfTypicalSnapshot);

// The longest processor name that passes, in characters of several code points each.
void plausibilityOfLongestName(benchmark::State& state) {
    SensorSnapshot snapshot = typicalSnapshot();
    snapshot.processorName.emplace();
    for (int i = 0; i < 256; ++i)
        *snapshot.processorName += "e\xCC\x81";
    for (auto _ : state)
        benchmark::DoNotOptimize(isValid(snapshot));
}
BENCHMARK(plausibilityOfLongestName);

} // namespace
