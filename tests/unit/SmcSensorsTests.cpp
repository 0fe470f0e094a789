#include "Agent/Collector.h"
#include "Agent/Fans.h"
#include "Agent/TemperatureSensors.h"
#include "support/SimulatedSMC.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

namespace {

const auto none = std::nullopt;
using Log = std::vector<std::string>;

// "KEY=VALUE ...", each value a "flt " number.
void setFloats(SimulatedSMC& smc, const std::string& readings) {
    std::istringstream words(readings);
    for (std::string word; words >> word;)
        smc.setFloat(word.substr(0, 4), std::stof(word.substr(5)));
}

} // namespace

TEST(TemperatureKeys, FamilyListsForAppleChipsIntelListsForAnyOtherName) {
    const std::tuple<std::optional<std::string>, std::size_t, std::size_t> families[] = {
        {"Apple M1", 10, 4}, {"Apple M2 Max", 12, 2}, {"Apple M10", 0, 0}, {"Apple M6", 0, 0},
        {none, 0, 0},        {"apple M1", 26, 5},
    };
    for (const auto& [name, cpu, gpu] : families)
        EXPECT_EQ(std::pair(cpuTemperatureKeys(name).size(), gpuTemperatureKeys(name).size()),
                  std::pair(cpu, gpu))
            << name.value_or("(none)");
}

TEST(TemperatureKeys, MeanOfTheReadingsFromTenToOneHundredTwenty) {
    SimulatedSMC smc;
    setFloats(smc, "Tlo0=10 Thi0=120 Tlo-=9.99 Thi+=120.01 Tinf=inf Tnan=nan");
    auto reader = smc.openReader();
    using Keys = std::vector<std::string>;
    EXPECT_EQ(
        averageTemperature(Keys{"Tlo-", "Tlo0", "Thi+", "Tinf", "Thi0", "Tnan", "Tmis"}, *reader),
        65.0);
    EXPECT_EQ(averageTemperature(Keys{"Tmis", "Tlo-"}, *reader), none);
}

TEST(Fans, CountIsFNumFromZeroToEightTruncatedAndEachFanWithASpeedKeepsItsIndex) {
    const std::pair<std::optional<float>, std::optional<int>> counts[] = {
        {0.0f, 0}, {7.9f, 7}, {8.0f, 8}, {8.01f, none}, {-1.0f, none}, {NAN, none}, {none, none},
    };
    for (auto [fnum, count] : counts) {
        SimulatedSMC smc;
        if (fnum)
            smc.setFloat("FNum", *fnum);
        EXPECT_EQ(readFanCount(*smc.openReader()), count) << fnum.value_or(-99);
    }
    SimulatedSMC smc;
    setFloats(smc, "F0Ac=1200 F0Mn=0 F0Mx=100001 F1Mn=1000 F2Ac=0 F3Ac=150000 F3Mn=1000 "
                   "F4Ac=-1 F5Ac=100000 F5Mn=7000 F5Mx=3000.25 F6Ac=1");
    EXPECT_EQ(readFans(6, *smc.openReader()),
              (std::vector<FanReading>{
                  {0, 1200, none, none}, {2, 0, none, none}, {5, 100000, 7000, 3000.25}}));
}

TEST(Collector, ReadsCountTemperaturesAndFansThenStampsThenClosesTheSMC) {
    SimulatedSMC smc;
    setFloats(smc, "FNum=1 F0Ac=1800 Tp1h=47.5 Tg0f=48");
    SnapshotSources sources{
        [&] { return smc.log.push_back("name"), std::optional<std::string>("Apple M2"); },
        [&] { return smc.log.push_back("gpu"), std::optional<GPUReading>(); },
        [&] { return smc.openReader(); },
        [&] { return smc.log.push_back("now"), 7.0; },
    };
    SensorSnapshot taken = collectSnapshot(sources);
    EXPECT_EQ(std::tuple(taken.fanCount, taken.cpuTemperatureCelsius, taken.gpuTemperatureCelsius,
                         taken.fans, taken.timestamp),
              std::tuple(1, 47.5, 48.0, std::vector<FanReading>{{0, 1800, none, none}}, 7.0));
    EXPECT_EQ(Log(smc.log.begin(), smc.log.begin() + 3), (Log{"name", "gpu", "open"}));
    EXPECT_EQ(Log(smc.log.end() - 3, smc.log.end()), (Log{"9 F0Mx", "now", "close"}));
    // Without an SMC its readings stay absent.
    sources.openSMC = [] { return nullptr; };
    taken = collectSnapshot(sources);
    EXPECT_EQ(std::tuple(taken.fanCount, taken.cpuTemperatureCelsius, taken.fans.size()),
              std::tuple(none, none, 0u));
}
