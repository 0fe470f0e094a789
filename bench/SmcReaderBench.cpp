#include "Agent/Fans.h"
#include "Agent/TemperatureSensors.h"
#include "support/SimulatedSMC.h"

#include <benchmark/benchmark.h>

namespace {

const std::optional<std::string> m5 = "Apple M5 Max";

// The keys an M5 machine with two fans answers: every temperature key the agent reads,
// the fan count and three speeds per fan.
void fillM5(SimulatedSMC& smc) {
    smc.recording = false;
    float celsius = 40.0f;
    for (TemperatureKeys keys : {cpuTemperatureKeys(m5), gpuTemperatureKeys(m5)})
        for (const std::string& key : keys)
            smc.setFloat(key, celsius += 0.5f);
    smc.set("FNum", "ui8 ", {2});
    for (const char* fan : {"F0", "F1"}) {
        smc.setFloat(std::string(fan) + "Ac", 1850.0f);
        smc.setFloat(std::string(fan) + "Mn", 1200.0f);
        smc.setFloat(std::string(fan) + "Mx", 6500.0f);
    }
}

// One readValue call after another, over every key of the table.
void readValueOnM5Table(benchmark::State& state) {
    SimulatedSMC smc;
    fillM5(smc);
    std::vector<std::string> keys{"FNum", "F0Ac", "F0Mn", "F0Mx", "F1Ac", "F1Mn", "F1Mx"};
    for (TemperatureKeys list : {cpuTemperatureKeys(m5), gpuTemperatureKeys(m5)})
        keys.insert(keys.end(), list.begin(), list.end());
    auto reader = smc.openReader();
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(reader->readValue(keys[next]));
        next = next + 1 == keys.size() ? 0 : next + 1;
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()));
    state.SetLabel("items = reader calls");
}
BENCHMARK(readValueOnM5Table);

// What a snapshot asks of the SMC: open, fan count, both averages, the fans, close.
void smcPassOnM5Table(benchmark::State& state) {
    SimulatedSMC smc;
    fillM5(smc);
    for (auto _ : state) {
        auto reader = smc.openReader();
        std::optional<int> count = readFanCount(*reader);
        benchmark::DoNotOptimize(averageTemperature(cpuTemperatureKeys(m5), *reader));
        benchmark::DoNotOptimize(averageTemperature(gpuTemperatureKeys(m5), *reader));
        benchmark::DoNotOptimize(readFans(count, *reader));
    }
    // 1 fan count + 18 + 8 temperatures + 3 per fan.
    state.SetItemsProcessed(std::int64_t(state.iterations()) * (1 + 18 + 8 + 2 * 3));
    state.SetLabel("items = reader calls");
}
BENCHMARK(smcPassOnM5Table);

} // namespace
