#include "App/SnapshotPlausibility.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace {

const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double infinity = std::numeric_limits<double>::infinity();

// Every optional reading present and comfortably inside its range.
SensorSnapshot plausibleSnapshot() {
    SensorSnapshot snapshot;
    snapshot.processorName = "Apple M2 Pro";
    snapshot.gpu = GPUReading{40, 30, 20};
    snapshot.cpuTemperatureCelsius = 55;
    snapshot.gpuTemperatureCelsius = 50;
    snapshot.fanCount = 2;
    snapshot.fans = {FanReading{0, 1800, 1200, 5600}, FanReading{1, 1750, 1200, 5600}};
    snapshot.pluginVersion = "1.0.0";
    snapshot.pluginBuild = 42;
    return snapshot;
}

std::string repeated(std::string_view unit, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i)
        text += unit;
    return text;
}

// One user-perceived character of two code points: e and a combining acute accent.
const std::string accented = "e\xCC\x81";

} // namespace

TEST(Plausibility, EachRuleAtItsLimits) {
    struct Row {
        const char* what;
        std::function<void(SensorSnapshot&)> change;
        bool valid;
    };
    const Row rows[] = {
        {"unchanged", [](auto&) {}, true},
        {"bare", [](auto& s) { s = SensorSnapshot{}; }, true},
        {"NaN timestamp, version 7",
         [](auto& s) { s.timestamp = notANumber, s.protocolVersion = 7; }, true},
        {"empty name", [](auto& s) { s.processorName = ""; }, true},
        {"256 letters", [](auto& s) { s.processorName = std::string(256, 'a'); }, true},
        {"257 letters", [](auto& s) { s.processorName = std::string(257, 'a'); }, false},
        {"256 accented", [](auto& s) { s.processorName = repeated(accented, 256); }, true},
        {"257 accented", [](auto& s) { s.processorName = repeated(accented, 257); }, false},
        {"empty version", [](auto& s) { s.pluginVersion = ""; }, false},
        {"64 version", [](auto& s) { s.pluginVersion = std::string(64, '9'); }, true},
        {"64 accented version", [](auto& s) { s.pluginVersion = repeated(accented, 64); }, true},
        {"65 version", [](auto& s) { s.pluginVersion = std::string(65, '9'); }, false},
        {"build 0", [](auto& s) { s.pluginBuild = 0; }, false},
        {"build 1", [](auto& s) { s.pluginBuild = 1; }, true},
        {"build 2147483647", [](auto& s) { s.pluginBuild = 2147483647; }, true},
        {"build 2147483648", [](auto& s) { s.pluginBuild = 2147483648; }, false},
        {"gpu utilization only",
         [](auto& s) { s.gpu->rendererPercent.reset(), s.gpu->tilerPercent.reset(); }, true},
        {"no minimum or maximum",
         [](auto& s) { s.fans[0].minimumRPM.reset(), s.fans[0].maximumRPM.reset(); }, true},
        {"minimum above current above maximum",
         [](auto& s) { s.fans[0].minimumRPM = 5000, s.fans[0].maximumRPM = 100; }, true},
    };
    for (const Row& row : rows) {
        SensorSnapshot snapshot = plausibleSnapshot();
        row.change(snapshot);
        EXPECT_EQ(isValid(snapshot), row.valid) << row.what;
    }
}

// Each reading with a range holds at both ends, fails just beyond either, and is finite.
TEST(Plausibility, ReadingsAreFiniteAndWithinTheirRanges) {
    struct Range {
        const char* reading;
        std::function<void(SensorSnapshot&, double)> set;
        double lowest, highest;
    };
    const Range ranges[] = {
        {"gpu utilization", [](auto& s, double v) { s.gpu->utilizationPercent = v; }, 0, 100},
        {"gpu renderer", [](auto& s, double v) { s.gpu->rendererPercent = v; }, 0, 100},
        {"gpu tiler", [](auto& s, double v) { s.gpu->tilerPercent = v; }, 0, 100},
        {"cpu temperature", [](auto& s, double v) { s.cpuTemperatureCelsius = v; }, 10, 120},
        {"gpu temperature", [](auto& s, double v) { s.gpuTemperatureCelsius = v; }, 10, 120},
        {"fan current", [](auto& s, double v) { s.fans[1].currentRPM = v; }, 0, 100000},
        {"fan minimum", [](auto& s, double v) { s.fans[1].minimumRPM = v; }, 0, 100000},
        {"fan maximum", [](auto& s, double v) { s.fans[1].maximumRPM = v; }, 0, 100000},
    };
    for (const Range& range : ranges) {
        auto validWith = [&](double value) {
            SensorSnapshot snapshot = plausibleSnapshot();
            range.set(snapshot, value);
            return isValid(snapshot);
        };
        for (double value : {range.lowest, range.highest})
            EXPECT_TRUE(validWith(value)) << range.reading << " " << value;
        for (double value :
             {std::nextafter(range.lowest, -infinity), std::nextafter(range.highest, infinity),
              notANumber, infinity, -infinity})
            EXPECT_FALSE(validWith(value)) << range.reading << " " << value;
    }
}

TEST(Plausibility, FansAreAtMostEightWithDistinctIdsBelowEightAndTheCount) {
    const std::tuple<std::optional<std::int64_t>, std::vector<std::int64_t>, bool> cases[] = {
        {-1, {}, false},
        {0, {}, true},
        {8, {0, 1}, true},
        {9, {0, 1}, false},
        {8, {0, 1, 2, 3, 4, 5, 6, 7}, true},
        {std::nullopt, {0, 1, 2, 3, 4, 5, 6, 7, 7}, false},
        {std::nullopt, {0, 0}, false},
        {std::nullopt, {-1}, false},
        {std::nullopt, {7}, true},
        {std::nullopt, {8}, false},
        {2, {1}, true},
        {2, {2}, false},
    };
    for (const auto& [fanCount, ids, valid] : cases) {
        SensorSnapshot snapshot = plausibleSnapshot();
        snapshot.fanCount = fanCount;
        snapshot.fans.clear();
        for (std::int64_t id : ids)
            snapshot.fans.push_back(FanReading{id, 2000, std::nullopt, std::nullopt});
        EXPECT_EQ(isValid(snapshot), valid) << "count " << testing::PrintToString(fanCount)
                                            << ", ids " << testing::PrintToString(ids);
    }
}
