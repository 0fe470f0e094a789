#include "App/GraphemeCount.h"
#include "App/SnapshotPlausibility.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace {

const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double infinity = std::numeric_limits<double>::infinity();

double justAbove(double value) {
    return std::nextafter(value, infinity);
}
double justBelow(double value) {
    return std::nextafter(value, -infinity);
}

std::string repeated(std::string_view unit, std::size_t times) {
    std::string text;
    for (std::size_t i = 0; i < times; ++i)
        text += unit;
    return text;
}

// Every optional reading present and comfortably inside its range.
SensorSnapshot plausibleSnapshot() {
    SensorSnapshot snapshot;
    snapshot.timestamp = 786000000;
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

struct Row {
    const char* what;
    std::function<void(SensorSnapshot&)> change;
    bool valid;
};

void expectRows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SensorSnapshot snapshot = plausibleSnapshot();
        row.change(snapshot);
        EXPECT_EQ(isValid(snapshot), row.valid) << row.what;
    }
}

// Fans with the given ids, all at an ordinary speed.
std::vector<FanReading> fansWithIds(std::initializer_list<std::int64_t> ids) {
    std::vector<FanReading> fans;
    for (std::int64_t id : ids)
        fans.push_back(FanReading{id, 2000, std::nullopt, std::nullopt});
    return fans;
}

const char* const combiningAcute = "e\xCC\x81";              // e + U+0301
const char* const flag = "\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA"; // two regional indicators
const char* const family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D"
                           "\xF0\x9F\x91\xA7"; // man ZWJ woman ZWJ girl

} // namespace

TEST(GraphemeCounting, CountsUserPerceivedCharactersNotBytesOrCodePoints) {
    EXPECT_EQ(graphemeCount(""), 0u);
    EXPECT_EQ(graphemeCount("abc"), 3u);
    EXPECT_EQ(graphemeCount(combiningAcute), 1u);
    EXPECT_EQ(graphemeCount(flag), 1u);
    EXPECT_EQ(graphemeCount(family), 1u);
    EXPECT_EQ(graphemeCount("\r\n"), 1u);
    EXPECT_EQ(graphemeCount(std::string("a\0b", 3)), 3u);
    EXPECT_EQ(graphemeCount(repeated(flag, 3) + "x"), 4u);
}

TEST(Plausibility, BareSnapshotAndFullOrdinarySnapshotPass) {
    SensorSnapshot bare;
    EXPECT_TRUE(isValid(bare));
    EXPECT_TRUE(isValid(plausibleSnapshot()));
}

TEST(Plausibility, TimestampAndVersionAreNotExamined) {
    expectRows({
        {"NaN timestamp", [](auto& s) { s.timestamp = notANumber; }, true},
        {"version 7", [](auto& s) { s.protocolVersion = 7; }, true},
    });
}

TEST(Plausibility, ProcessorNameIsAtMost256Characters) {
    expectRows({
        {"absent", [](auto& s) { s.processorName.reset(); }, true},
        {"empty", [](auto& s) { s.processorName = ""; }, true},
        {"256 letters", [](auto& s) { s.processorName = std::string(256, 'a'); }, true},
        {"257 letters", [](auto& s) { s.processorName = std::string(257, 'a'); }, false},
        {"256 combined accents", [](auto& s) { s.processorName = repeated(combiningAcute, 256); },
         true},
        {"257 combined accents", [](auto& s) { s.processorName = repeated(combiningAcute, 257); },
         false},
        {"256 flags", [](auto& s) { s.processorName = repeated(flag, 256); }, true},
        {"257 flags", [](auto& s) { s.processorName = repeated(flag, 257); }, false},
        {"256 families", [](auto& s) { s.processorName = repeated(family, 256); }, true},
        {"256 CR LF pairs", [](auto& s) { s.processorName = repeated("\r\n", 256); }, true},
    });
}

TEST(Plausibility, PluginVersionIsNotEmptyAndAtMost64Characters) {
    expectRows({
        {"absent", [](auto& s) { s.pluginVersion.reset(); }, true},
        {"empty", [](auto& s) { s.pluginVersion = ""; }, false},
        {"one", [](auto& s) { s.pluginVersion = "1"; }, true},
        {"64", [](auto& s) { s.pluginVersion = std::string(64, '9'); }, true},
        {"65", [](auto& s) { s.pluginVersion = std::string(65, '9'); }, false},
        {"64 combined accents", [](auto& s) { s.pluginVersion = repeated(combiningAcute, 64); },
         true},
        {"65 combined accents", [](auto& s) { s.pluginVersion = repeated(combiningAcute, 65); },
         false},
    });
}

TEST(Plausibility, PluginBuildIsPositiveAndFitsThirtyTwoBits) {
    expectRows({
        {"absent", [](auto& s) { s.pluginBuild.reset(); }, true},
        {"0", [](auto& s) { s.pluginBuild = 0; }, false},
        {"-1", [](auto& s) { s.pluginBuild = -1; }, false},
        {"smallest", [](auto& s) { s.pluginBuild = std::numeric_limits<std::int64_t>::min(); },
         false},
        {"1", [](auto& s) { s.pluginBuild = 1; }, true},
        {"2147483647", [](auto& s) { s.pluginBuild = 2147483647; }, true},
        {"2147483648", [](auto& s) { s.pluginBuild = 2147483648; }, false},
    });
}

TEST(Plausibility, GPUPercentagesAreFiniteFrom0To100) {
    using Setter = void (*)(GPUReading&, double);
    const std::pair<const char*, Setter> fields[] = {
        {"utilization", [](GPUReading& g, double v) { g.utilizationPercent = v; }},
        {"renderer", [](GPUReading& g, double v) { g.rendererPercent = v; }},
        {"tiler", [](GPUReading& g, double v) { g.tilerPercent = v; }},
    };
    const std::pair<double, bool> values[] = {
        {0, true},
        {-0.0, true},
        {100, true},
        {justBelow(0), false},
        {justAbove(100), false},
        {notANumber, false},
        {infinity, false},
        {-infinity, false},
    };
    for (auto [field, set] : fields)
        for (auto [value, valid] : values) {
            SensorSnapshot snapshot = plausibleSnapshot();
            set(*snapshot.gpu, value);
            EXPECT_EQ(isValid(snapshot), valid) << field << " " << value;
        }
    expectRows({
        {"no gpu", [](auto& s) { s.gpu.reset(); }, true},
        {"no renderer or tiler",
         [](auto& s) {
             s.gpu = GPUReading{100, std::nullopt, std::nullopt};
         },
         true},
    });
}

TEST(Plausibility, TemperaturesAreFiniteFrom10To120) {
    using Field = std::optional<double> SensorSnapshot::*;
    const std::pair<const char*, Field> fields[] = {
        {"cpu", &SensorSnapshot::cpuTemperatureCelsius},
        {"gpu", &SensorSnapshot::gpuTemperatureCelsius},
    };
    const std::pair<std::optional<double>, bool> values[] = {
        {std::nullopt, true},
        {10, true},
        {120, true},
        {9.9, false},
        {justBelow(10), false},
        {justAbove(120), false},
        {notANumber, false},
        {infinity, false},
        {-infinity, false},
        {0, false},
    };
    for (auto [name, field] : fields)
        for (auto [value, valid] : values) {
            SensorSnapshot snapshot = plausibleSnapshot();
            snapshot.*field = value;
            EXPECT_EQ(isValid(snapshot), valid) << name << " " << value.value_or(-1);
        }
}

TEST(Plausibility, FanCountIsFrom0To8) {
    expectRows({
        {"absent", [](auto& s) { s.fanCount.reset(); }, true},
        {"0 without fans", [](auto& s) { s.fanCount = 0, s.fans.clear(); }, true},
        {"8", [](auto& s) { s.fanCount = 8; }, true},
        {"9", [](auto& s) { s.fanCount = 9; }, false},
        {"-1 without fans", [](auto& s) { s.fanCount = -1, s.fans.clear(); }, false},
        {"8 with one fan listed", [](auto& s) { s.fanCount = 8, s.fans = fansWithIds({5}); }, true},
        {"1 with no fan listed", [](auto& s) { s.fanCount = 1, s.fans.clear(); }, true},
    });
}

TEST(Plausibility, FanListHoldsAtMostEightDistinctIdsBelowTheCount) {
    expectRows({
        {"empty", [](auto& s) { s.fans.clear(); }, true},
        {"eight",
         [](auto& s) {
             s.fanCount = 8, s.fans = fansWithIds({0, 1, 2, 3, 4, 5, 6, 7});
         },
         true},
        {"nine",
         [](auto& s) {
             s.fanCount.reset(), s.fans = fansWithIds({0, 1, 2, 3, 4, 5, 6, 7, 7});
         },
         false},
        {"same id twice",
         [](auto& s) {
             s.fans = fansWithIds({0, 0});
         },
         false},
        {"id 7 without count", [](auto& s) { s.fanCount.reset(), s.fans = fansWithIds({7}); },
         true},
        {"id 8 without count", [](auto& s) { s.fanCount.reset(), s.fans = fansWithIds({8}); },
         false},
        {"id -1", [](auto& s) { s.fanCount.reset(), s.fans = fansWithIds({-1}); }, false},
        {"id 1 with count 2", [](auto& s) { s.fanCount = 2, s.fans = fansWithIds({1}); }, true},
        {"id 2 with count 2", [](auto& s) { s.fanCount = 2, s.fans = fansWithIds({2}); }, false},
        {"id 0 with count 0", [](auto& s) { s.fanCount = 0, s.fans = fansWithIds({0}); }, false},
        {"gaps in ids",
         [](auto& s) {
             s.fanCount = 8, s.fans = fansWithIds({1, 4, 6});
         },
         true},
    });
}

TEST(Plausibility, FanSpeedsAreFiniteFrom0To100000) {
    using Setter = void (*)(FanReading&, double);
    const std::pair<const char*, Setter> fields[] = {
        {"current", [](FanReading& f, double v) { f.currentRPM = v; }},
        {"minimum", [](FanReading& f, double v) { f.minimumRPM = v; }},
        {"maximum", [](FanReading& f, double v) { f.maximumRPM = v; }},
    };
    const std::pair<double, bool> values[] = {
        {0, true},         {-0.0, true},          {100000, true},
        {100000.5, false}, {justBelow(0), false}, {notANumber, false},
        {infinity, false}, {-infinity, false},
    };
    for (auto [field, set] : fields)
        for (auto [value, valid] : values) {
            SensorSnapshot snapshot = plausibleSnapshot();
            set(snapshot.fans[1], value);
            EXPECT_EQ(isValid(snapshot), valid) << field << " " << value;
        }
    expectRows({
        {"no minimum or maximum",
         [](auto& s) {
             s.fans = {FanReading{0, 1000, std::nullopt, std::nullopt}};
         },
         true},
        {"minimum above current above maximum",
         [](auto& s) {
             s.fans = {FanReading{0, 3000, 5000, 100}};
         },
         true},
    });
}
