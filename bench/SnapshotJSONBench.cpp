#include "Shared/SnapshotJSON.h"

#include "TypicalSnapshot.h"

#include <benchmark/benchmark.h>

namespace {

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
