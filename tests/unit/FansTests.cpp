#include "Agent/Fans.h"
#include "support/SimulatedSMC.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

// fpe2 bytes of a whole speed below 16384.
std::vector<std::uint8_t> fpe2(unsigned rpm) {
    return {std::uint8_t(rpm >> 6), std::uint8_t((rpm & 0x3F) << 2)};
}

std::optional<int> countFrom(float fnum) {
    SimulatedSMC smc;
    smc.setFloat("FNum", fnum);
    return readFanCount(*smc.openReader());
}

} // namespace

TEST(FanCount, ZeroToEightTruncated) {
    SimulatedSMC smc;
    smc.set("FNum", "ui8 ", {0});
    EXPECT_EQ(readFanCount(*smc.openReader()), 0);
    EXPECT_EQ(countFrom(2.0f), 2);
    EXPECT_EQ(countFrom(7.9f), 7);
    EXPECT_EQ(countFrom(8.0f), 8);
    EXPECT_EQ(countFrom(0.5f), 0);
}

TEST(FanCount, AnythingElseIsAbsent) {
    EXPECT_EQ(countFrom(9.0f), std::nullopt);
    EXPECT_EQ(countFrom(8.01f), std::nullopt);
    EXPECT_EQ(countFrom(-1.0f), std::nullopt);
    EXPECT_EQ(countFrom(std::numeric_limits<float>::infinity()), std::nullopt);
    EXPECT_EQ(countFrom(std::numeric_limits<float>::quiet_NaN()), std::nullopt);
    SimulatedSMC missing;
    EXPECT_EQ(readFanCount(*missing.openReader()), std::nullopt);
}

TEST(FanList, AbsentCountReadsNoFan) {
    SimulatedSMC smc;
    smc.set("F0Ac", "fpe2", fpe2(1200));
    auto reader = smc.openReader();
    EXPECT_TRUE(readFans(std::nullopt, *reader).empty());
    EXPECT_TRUE(readFans(0, *reader).empty());
    EXPECT_TRUE(smc.calls.empty());
}

TEST(FanList, FansWithoutCurrentSpeedLeaveGapsInTheIds) {
    SimulatedSMC smc;
    smc.set("F0Ac", "fpe2", fpe2(1200));
    smc.set("F0Mn", "fpe2", fpe2(1000));
    smc.set("F0Mx", "fpe2", fpe2(6000));
    smc.set("F1Mn", "fpe2", fpe2(1000));
    smc.set("F2Ac", "fpe2", fpe2(0));
    auto fans = readFans(3, *smc.openReader());
    EXPECT_EQ(fans,
              (std::vector<FanReading>{{0, 1200, 1000, 6000}, {2, 0, std::nullopt, std::nullopt}}));
    EXPECT_EQ(smc.keysAsked(),
              (std::vector<std::string>{"F0Ac", "F0Mn", "F0Mx", "F1Ac", "F2Ac", "F2Mn", "F2Mx"}));
}

TEST(OneFan, CurrentSpeedOutOfRangeDropsTheFanUnread) {
    SimulatedSMC smc;
    smc.setFloat("F0Ac", 150000.0f);
    smc.set("F0Mn", "fpe2", fpe2(1000));
    smc.setFloat("F1Ac", -1.0f);
    smc.setFloat("F2Ac", std::numeric_limits<float>::quiet_NaN());
    auto reader = smc.openReader();
    for (int index : {0, 1, 2})
        EXPECT_EQ(readFan(index, *reader), std::nullopt) << index;
    EXPECT_EQ(smc.keysAsked(), (std::vector<std::string>{"F0Ac", "F1Ac", "F2Ac"}));
}

TEST(OneFan, LimitsAreInclusiveAndEachFieldStandsAlone) {
    SimulatedSMC smc;
    smc.setFloat("F0Ac", 100000.0f);
    smc.set("F0Mn", "fpe2", {0, 0});
    smc.setFloat("F0Mx", 100001.0f);
    smc.setFloat("F1Ac", 0.0f);
    smc.setFloat("F1Mn", 7000.0f);
    smc.setFloat("F1Mx", 3000.25f);
    auto reader = smc.openReader();
    EXPECT_EQ(readFan(0, *reader), (FanReading{0, 100000, std::nullopt, std::nullopt}));
    // No relation between the speeds is required.
    EXPECT_EQ(readFan(1, *reader), (FanReading{1, 0, 7000, 3000.25}));
}
