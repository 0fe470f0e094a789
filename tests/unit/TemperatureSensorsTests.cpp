#include "Agent/TemperatureSensors.h"
#include "support/SimulatedSMC.h"

#include <gtest/gtest.h>

#include <limits>
#include <set>

namespace {

std::vector<std::string> listOf(TemperatureKeys keys) {
    return {keys.begin(), keys.end()};
}

std::optional<std::string> name(const char* text) {
    return std::string(text);
}

} // namespace

TEST(ChipFamily, NameIsAppleChipAloneOrFollowedByASpace) {
    EXPECT_TRUE(matchesChip("Apple M1", "M1"));
    EXPECT_TRUE(matchesChip("Apple M1 Pro", "M1"));
    EXPECT_TRUE(matchesChip("Apple M1 Ultra", "M1"));
    EXPECT_TRUE(matchesChip("Apple M1 ", "M1"));
    EXPECT_FALSE(matchesChip("Apple M10", "M1"));
    EXPECT_FALSE(matchesChip("Apple M1-Pro", "M1"));
    EXPECT_FALSE(matchesChip("apple M1", "M1"));
    EXPECT_FALSE(matchesChip(" Apple M1", "M1"));
    EXPECT_FALSE(matchesChip("Apple  M1", "M1"));
    EXPECT_FALSE(matchesChip("Apple M2", "M1"));
    EXPECT_FALSE(matchesChip("Apple ", "M1"));
}

TEST(KeyListChoice, AppleFamiliesGetTheirOwnLists) {
    EXPECT_EQ(cpuTemperatureKeys(name("Apple M1 Max")).size(), 10u);
    EXPECT_EQ(cpuTemperatureKeys(name("Apple M2 Max")).front(), "Tp1h");
    EXPECT_EQ(cpuTemperatureKeys(name("Apple M2 Max")).size(), 12u);
    EXPECT_EQ(gpuTemperatureKeys(name("Apple M2 Max")).data(),
              gpuTemperatureKeys(name("Apple M2")).data());
    EXPECT_EQ(listOf(gpuTemperatureKeys(name("Apple M2"))),
              (std::vector<std::string>{"Tg0f", "Tg0j"}));
    EXPECT_EQ(cpuTemperatureKeys(name("Apple M3")).size(), 16u);
    EXPECT_EQ(cpuTemperatureKeys(name("Apple M3")).back(), "Tf4E");
    EXPECT_EQ(cpuTemperatureKeys(name("Apple M4 Pro")).size(), 12u);
    EXPECT_EQ(cpuTemperatureKeys(name("Apple M5")).size(), 18u);
    EXPECT_EQ(listOf(gpuTemperatureKeys(name("Apple M1"))),
              (std::vector<std::string>{"Tg05", "Tg0D", "Tg0L", "Tg0T"}));
    EXPECT_EQ(gpuTemperatureKeys(name("Apple M3")).size(), 8u);
    EXPECT_EQ(gpuTemperatureKeys(name("Apple M4")).size(), 10u);
    EXPECT_EQ(gpuTemperatureKeys(name("Apple M5 Max")).size(), 8u);
    EXPECT_EQ(gpuTemperatureKeys(name("Apple M5 Max")).back(), "Tg1g");
}

TEST(KeyListChoice, EveryListHoldsDistinctFourCharacterKeys) {
    for (const char* processor :
         {"Apple M1", "Apple M2", "Apple M3", "Apple M4", "Apple M5", "Intel"}) {
        for (TemperatureKeys keys :
             {cpuTemperatureKeys(name(processor)), gpuTemperatureKeys(name(processor))}) {
            std::set<std::string> distinct(keys.begin(), keys.end());
            EXPECT_EQ(distinct.size(), keys.size()) << processor;
            for (const std::string& key : keys) {
                EXPECT_EQ(key.size(), 4u) << processor;
                EXPECT_EQ(key[0], 'T') << processor;
            }
        }
    }
}

TEST(KeyListChoice, OtherAppleNamesAndNoNameGetNothing) {
    for (const char* processor : {"Apple M10", "Apple M6", "Apple ", "Apple Silicon"}) {
        EXPECT_TRUE(cpuTemperatureKeys(name(processor)).empty()) << processor;
        EXPECT_TRUE(gpuTemperatureKeys(name(processor)).empty()) << processor;
    }
    EXPECT_TRUE(cpuTemperatureKeys(std::nullopt).empty());
    EXPECT_TRUE(gpuTemperatureKeys(std::nullopt).empty());
}

TEST(KeyListChoice, AnyOtherNameIsIntel) {
    std::vector<std::string> intelCpu;
    for (char digit = '0'; digit <= '9'; ++digit)
        for (char last : {'c', 'C'})
            intelCpu.push_back(std::string("TC") + digit + last);
    for (const char* key : {"TC0D", "TC0E", "TC0F", "TC0H", "TC0P", "TCAD"})
        intelCpu.emplace_back(key);
    const std::vector<std::string> intelGpu{"TCGC", "TG0D", "TGDD", "TG0H", "TG0P"};

    for (const char* processor :
         {"Intel(R) Core(TM) i7 CPU", "apple M1", "AMD EPYC", "", "M1", "AppleM1", "Apple"}) {
        EXPECT_EQ(listOf(cpuTemperatureKeys(name(processor))), intelCpu) << processor;
        EXPECT_EQ(listOf(gpuTemperatureKeys(name(processor))), intelGpu) << processor;
    }
}

TEST(KeyListChoice, IntelCpuListIsBuiltOnce) {
    EXPECT_EQ(cpuTemperatureKeys(name("Intel")).data(), cpuTemperatureKeys(name("x")).data());
}

TEST(Averaging, MeanOfPlausibleReadingsInListOrder) {
    SimulatedSMC smc;
    smc.setFloat("TaaA", 40.0f);
    smc.setFloat("TaaB", 200.0f);
    smc.setFloat("TaaC", 50.0f);
    const std::vector<std::string> keys{"TaaA", "TaaB", "TaaD", "TaaC"};
    auto reader = smc.openReader();
    EXPECT_EQ(averageTemperature(keys, *reader), 45.0);
    EXPECT_EQ(smc.keysAsked(), keys);
}

TEST(Averaging, RangeIsTenToOneHundredTwentyInclusive) {
    SimulatedSMC smc;
    smc.setFloat("Tlo0", 10.0f);
    smc.setFloat("Thi0", 120.0f);
    smc.setFloat("Tlo1", 9.99f);
    smc.setFloat("Thi1", 120.01f);
    smc.setFloat("Tinf", std::numeric_limits<float>::infinity());
    smc.setFloat("Tnan", std::numeric_limits<float>::quiet_NaN());
    smc.setFloat("Tneg", -40.0f);
    auto reader = smc.openReader();
    const std::vector<std::string> keys{"Tlo1", "Tlo0", "Thi1", "Tinf", "Thi0", "Tnan", "Tneg"};
    EXPECT_EQ(averageTemperature(keys, *reader), 65.0);
    const std::vector<std::string> implausible{"Tlo1", "Thi1", "Tinf", "Tnan", "Tneg"};
    EXPECT_EQ(averageTemperature(implausible, *reader), std::nullopt);
}

TEST(Averaging, SumsInListOrderWithoutRounding) {
    SimulatedSMC smc;
    smc.set("Ta00", "sp78", {0x2F, 0x80}); // 47.5
    smc.set("Ta01", "sp78", {0x30, 0x40}); // 48.25
    smc.set("Ta02", "sp78", {0x30, 0x01}); // 48.00390625
    auto reader = smc.openReader();
    const std::vector<std::string> keys{"Ta00", "Ta01", "Ta02"};
    EXPECT_EQ(averageTemperature(keys, *reader), (47.5 + 48.25 + 48.00390625) / 3);
}

TEST(Averaging, MissingKeysGiveNothingAndAnEmptyListReadsNothing) {
    SimulatedSMC smc;
    auto reader = smc.openReader();
    const std::vector<std::string> missing{"TC0P", "TC1P"};
    EXPECT_EQ(averageTemperature(missing, *reader), std::nullopt);
    EXPECT_EQ(smc.calls.size(), 2u);
    EXPECT_EQ(averageTemperature({}, *reader), std::nullopt);
    EXPECT_EQ(smc.calls.size(), 2u);
}
