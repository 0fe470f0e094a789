#include "Agent/Collector.h"
#include "Agent/Fans.h"
#include "Agent/TemperatureSensors.h"
#include "support/SimulatedSMC.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>

namespace {

const auto none = std::nullopt;

// "KEY=VALUE ...", each value a "flt " number.
void setFloats(SimulatedSMC& smc, const std::string& readings) {
    std::istringstream words(readings);
    for (std::string word; words >> word;)
        smc.setFloat(word.substr(0, 4), std::stof(word.substr(5)));
}

std::string joined(TemperatureKeys keys) {
    std::string text;
    for (const std::string& key : keys)
        text += (text.empty() ? "" : " ") + key;
    return text;
}

SnapshotSources sourcesOn(SimulatedSMC& smc, std::optional<std::string> processor) {
    return SnapshotSources{
        [&smc, processor] { return smc.log.push_back("name"), processor; },
        [&smc] { return smc.log.push_back("gpu"), std::optional<GPUReading>(); },
        [&smc] { return smc.openReader(); },
        [&smc] { return smc.log.push_back("now"), 7.0; },
    };
}

} // namespace

TEST(KeyListChoice, FamilyListsForAppleChipsIntelListsForAnyOtherName) {
    const std::string intel = "TC0c TC0C TC1c TC1C TC2c TC2C TC3c TC3C TC4c TC4C TC5c TC5C TC6c "
                              "TC6C TC7c TC7C TC8c TC8C TC9c TC9C TC0D TC0E TC0F TC0H TC0P TCAD | "
                              "TCGC TG0D TGDD TG0H TG0P";
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {"Apple M1", "Tp09 Tp0T Tp01 Tp05 Tp0D Tp0H Tp0L Tp0P Tp0X Tp0b | Tg05 Tg0D Tg0L Tg0T"},
        {"Apple M2 Max", "Tp1h Tp1t Tp1p Tp1l Tp01 Tp05 Tp09 Tp0D Tp0X Tp0b Tp0f Tp0j | Tg0f Tg0j"},
        {"Apple M3", "Te05 Te0L Te0P Te0S Tf04 Tf09 Tf0A Tf0B Tf0D Tf0E Tf44 Tf49 Tf4A Tf4B Tf4D "
                     "Tf4E | Tf14 Tf18 Tf19 Tf1A Tf24 Tf28 Tf29 Tf2A"},
        {"Apple M4 Pro", "Te05 Te0S Te09 Te0H Tp01 Tp05 Tp09 Tp0D Tp0V Tp0Y Tp0b Tp0e | Tg0G Tg0H "
                         "Tg1U Tg1k Tg0K Tg0L Tg0d Tg0e Tg0j Tg0k"},
        {"Apple M5", "Tp00 Tp04 Tp08 Tp0C Tp0G Tp0K Tp0O Tp0R Tp0U Tp0X Tp0a Tp0d Tp0g Tp0j Tp0m "
                     "Tp0p Tp0u Tp0y | Tg0U Tg0X Tg0d Tg0g Tg0j Tg1Y Tg1c Tg1g"},
        {"Apple M10", " | "},
        {"Apple M6", " | "},
        {none, " | "},
        {"Intel(R) Core(TM) i7-8700 CPU", intel},
        {"apple M1", intel},
    };
    for (const auto& [processor, lists] : cases)
        EXPECT_EQ(joined(cpuTemperatureKeys(processor)) + " | " +
                      joined(gpuTemperatureKeys(processor)),
                  lists)
            << processor.value_or("(none)");
}

TEST(Averaging, MeanInListOrderOfReadingsFromTenToOneHundredTwenty) {
    SimulatedSMC smc;
    setFloats(smc, "Ta01=40 Ta02=200 Ta03=50 Tlo0=10 Thi0=120 Tlo1=9.99 Thi1=120.01 Tinf=inf "
                   "Tnan=nan");
    auto reader = smc.openReader();
    const std::vector<std::string> keys{"Ta01", "Ta02", "Tmis", "Ta03"};
    EXPECT_EQ(averageTemperature(keys, *reader), 45.0);
    EXPECT_EQ(smc.keysAsked(), keys);
    const std::vector<std::string> edges{"Tlo1", "Tlo0", "Thi1", "Tinf", "Thi0", "Tnan"};
    EXPECT_EQ(averageTemperature(edges, *reader), 65.0);
    EXPECT_EQ(averageTemperature(std::vector<std::string>{"Tmis", "Tmi2"}, *reader), none);
}

TEST(Fans, CountIsFNumFromZeroToEightTruncated) {
    auto countFrom = [](std::optional<float> fnum) {
        SimulatedSMC smc;
        if (fnum)
            smc.setFloat("FNum", *fnum);
        return readFanCount(*smc.openReader());
    };
    for (auto [fnum, count] : {std::pair{0.0f, 0}, std::pair{7.9f, 7}, std::pair{8.0f, 8}})
        EXPECT_EQ(countFrom(fnum), count) << fnum;
    for (float fnum : {8.01f, 9.0f, -1.0f, std::numeric_limits<float>::quiet_NaN()})
        EXPECT_EQ(countFrom(fnum), none) << fnum;
    EXPECT_EQ(countFrom(none), none);
}

TEST(Fans, EachFanWithACurrentSpeedKeepsItsIndex) {
    SimulatedSMC smc;
    setFloats(smc, "F0Ac=1200 F0Mn=0 F0Mx=100001 F1Mn=1000 F2Ac=0 F3Ac=150000 F3Mn=1000 "
                   "F4Ac=-1 F5Ac=100000 F5Mn=7000 F5Mx=3000.25");
    auto reader = smc.openReader();
    // A stopped fan stays; a limit of 0 is no reading; limits need not enclose the speed.
    EXPECT_EQ(readFans(6, *reader),
              (std::vector<FanReading>{
                  {0, 1200, none, none}, {2, 0, none, none}, {5, 100000, 7000, 3000.25}}));
    EXPECT_EQ(joined(smc.keysAsked()),
              "F0Ac F0Mn F0Mx F1Ac F2Ac F2Mn F2Mx F3Ac F4Ac F5Ac F5Mn F5Mx");
    EXPECT_TRUE(readFans(none, *reader).empty());
    EXPECT_TRUE(readFans(0, *reader).empty());
    EXPECT_EQ(smc.keysAsked().size(), 12u);
}

TEST(CollectorSmc, EachSnapshotReadsCountCpuGpuFansThenStampsThenReleasesItsReader) {
    const std::optional<std::string> m2 = "Apple M2 Pro";
    SimulatedSMC smc;
    setFloats(smc, "FNum=1 F0Ac=1800 F0Mn=1200 F0Mx=5600");
    std::vector<std::string> keys{"FNum"};
    for (auto [list, celsius] :
         {std::pair{cpuTemperatureKeys(m2), 47.5f}, std::pair{gpuTemperatureKeys(m2), 48.0f}}) {
        for (const std::string& key : list)
            smc.setFloat(key, celsius);
        keys.insert(keys.end(), list.begin(), list.end());
    }
    keys.insert(keys.end(), {"F0Ac", "F0Mn", "F0Mx"});
    std::vector<std::string> expected{"name", "gpu", "open"};
    for (const std::string& key : keys)
        expected.insert(expected.end(), {"9 " + key, "5 " + key});
    expected.insert(expected.end(), {"now", "close"});

    for (int snapshot = 0; snapshot < 2; ++snapshot) {
        smc.log.clear();
        SensorSnapshot taken = collectSnapshot(sourcesOn(smc, m2));
        EXPECT_EQ(smc.log, expected) << snapshot;
        EXPECT_EQ(std::tuple(taken.fanCount, taken.cpuTemperatureCelsius,
                             taken.gpuTemperatureCelsius, taken.timestamp),
                  std::tuple(1, 47.5, 48.0, 7.0));
        EXPECT_EQ(taken.fans, (std::vector<FanReading>{{0, 1800, 1200, 5600}}));
    }
}

TEST(CollectorSmc, WithoutAnSmcItsFieldsStayAbsent) {
    SimulatedSMC smc;
    SnapshotSources sources = sourcesOn(smc, "Apple M1");
    sources.openSMC = [] { return nullptr; };
    SensorSnapshot snapshot = collectSnapshot(sources);
    EXPECT_EQ(smc.log, (std::vector<std::string>{"name", "gpu", "now"}));
    EXPECT_EQ(std::tuple(snapshot.processorName, snapshot.timestamp, snapshot.fanCount,
                         snapshot.cpuTemperatureCelsius, snapshot.gpuTemperatureCelsius),
              std::tuple("Apple M1", 7.0, none, none, none));
    EXPECT_TRUE(snapshot.fans.empty());
    sources.openSMC = nullptr;
    EXPECT_EQ(collectSnapshot(sources), snapshot);
    SensorSnapshot bare = collectSnapshot({}); // no source set
    EXPECT_FALSE(bare.processorName || bare.gpu);
    EXPECT_GT(bare.timestamp, 0);
}
