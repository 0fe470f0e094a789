#include "Agent/Collector.h"
#include "support/SimulatedSMC.h"

#include <gtest/gtest.h>

namespace {

// fpe2 bytes of a whole speed below 16384.
std::vector<std::uint8_t> fpe2(unsigned rpm) {
    return {std::uint8_t(rpm >> 6), std::uint8_t((rpm & 0x3F) << 2)};
}

SnapshotSources sourcesOn(SimulatedSMC& smc, std::optional<std::string> processor) {
    return SnapshotSources{
        [&smc, processor] {
            smc.log.push_back("name");
            return processor;
        },
        [&smc] {
            smc.log.push_back("gpu");
            return std::optional<GPUReading>();
        },
        [&smc] { return smc.openReader(); },
        [&smc] {
            smc.log.push_back("now");
            return 7.0;
        },
    };
}

std::vector<std::string> fullReads(const std::vector<std::string>& keys) {
    std::vector<std::string> log;
    for (const std::string& key : keys) {
        log.push_back("9 " + key);
        log.push_back("5 " + key);
    }
    return log;
}

} // namespace

TEST(CollectorSmc, OneReaderReadsCountCpuGpuFansThenStampsThenCloses) {
    SimulatedSMC smc;
    smc.set("FNum", "ui8 ", {1});
    smc.set("Tg0f", "sp78", {0x30, 0x00});
    smc.set("Tp01", "sp78", {0x2F, 0x80});
    smc.set("F0Ac", "fpe2", fpe2(1800));
    smc.set("F0Mn", "fpe2", fpe2(1200));
    smc.set("F0Mx", "fpe2", fpe2(5600));
    SensorSnapshot snapshot = collectSnapshot(sourcesOn(smc, "Apple M2 Pro"));

    std::vector<std::string> expected{"name", "gpu", "open", "9 FNum", "5 FNum"};
    for (const char* key : {"Tp1h", "Tp1t", "Tp1p", "Tp1l"})
        expected.push_back(std::string("9 ") + key);
    for (const std::string& line : fullReads({"Tp01"}))
        expected.push_back(line);
    for (const char* key : {"Tp05", "Tp09", "Tp0D", "Tp0X", "Tp0b", "Tp0f", "Tp0j"})
        expected.push_back(std::string("9 ") + key);
    for (const std::string& line : fullReads({"Tg0f"}))
        expected.push_back(line);
    expected.push_back("9 Tg0j");
    for (const std::string& line : fullReads({"F0Ac", "F0Mn", "F0Mx"}))
        expected.push_back(line);
    expected.push_back("now");
    expected.push_back("close");
    EXPECT_EQ(smc.log, expected);

    EXPECT_EQ(snapshot.timestamp, 7.0);
    EXPECT_EQ(snapshot.fanCount, 1);
    EXPECT_EQ(snapshot.cpuTemperatureCelsius, 47.5);
    EXPECT_EQ(snapshot.gpuTemperatureCelsius, 48.0);
    EXPECT_EQ(snapshot.fans, (std::vector<FanReading>{{0, 1800, 1200, 5600}}));
}

TEST(CollectorSmc, SmcThatDoesNotOpenLeavesItsFieldsOut) {
    SimulatedSMC smc;
    smc.set("FNum", "ui8 ", {1});
    smc.refuseOpen = true;
    SensorSnapshot snapshot = collectSnapshot(sourcesOn(smc, "Apple M1"));
    EXPECT_EQ(smc.log, (std::vector<std::string>{"name", "gpu", "now"}));
    EXPECT_EQ(snapshot.protocolVersion, 1);
    EXPECT_EQ(snapshot.processorName, "Apple M1");
    EXPECT_EQ(snapshot.timestamp, 7.0);
    EXPECT_EQ(snapshot.cpuTemperatureCelsius, std::nullopt);
    EXPECT_EQ(snapshot.gpuTemperatureCelsius, std::nullopt);
    EXPECT_EQ(snapshot.fanCount, std::nullopt);
    EXPECT_TRUE(snapshot.fans.empty());

    SnapshotSources unsupplied = sourcesOn(smc, "Apple M1");
    unsupplied.openSMC = nullptr;
    EXPECT_EQ(collectSnapshot(unsupplied), snapshot);
}

TEST(CollectorSmc, WithoutAKnownFamilyOnlyFansAreRead) {
    for (std::optional<std::string> processor :
         {std::optional<std::string>("Apple M6"), std::optional<std::string>("Apple M10"),
          std::optional<std::string>()}) {
        SimulatedSMC smc;
        smc.set("FNum", "ui8 ", {2});
        smc.set("F1Ac", "fpe2", fpe2(2000));
        SensorSnapshot snapshot = collectSnapshot(sourcesOn(smc, processor));
        EXPECT_EQ(smc.keysAsked(),
                  (std::vector<std::string>{"FNum", "F0Ac", "F1Ac", "F1Mn", "F1Mx"}));
        EXPECT_EQ(snapshot.cpuTemperatureCelsius, std::nullopt);
        EXPECT_EQ(snapshot.gpuTemperatureCelsius, std::nullopt);
        EXPECT_EQ(snapshot.fanCount, 2);
        EXPECT_EQ(snapshot.fans, (std::vector<FanReading>{{1, 2000, std::nullopt, std::nullopt}}));
    }
}

TEST(CollectorSmc, EachSnapshotOpensItsOwnReader) {
    SimulatedSMC smc;
    smc.set("FNum", "ui8 ", {0});
    SnapshotSources sources = sourcesOn(smc, "Apple M1");
    collectSnapshot(sources);
    collectSnapshot(sources);
    EXPECT_EQ(std::count(smc.log.begin(), smc.log.end(), "open"), 2);
    EXPECT_EQ(std::count(smc.log.begin(), smc.log.end(), "close"), 2);
    EXPECT_EQ(std::count(smc.log.begin(), smc.log.end(), "9 FNum"), 2);
}
