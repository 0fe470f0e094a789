#include "App/ReplyDecoding.h"
#include "App/SnapshotPlausibility.h"
#include "Shared/SnapshotJSON.h"

#include "TypicalSnapshot.h"

#include <benchmark/benchmark.h>

namespace {

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
