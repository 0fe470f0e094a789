#include "Shared/SnapshotJSON.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>

namespace {

const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double infinity = std::numeric_limits<double>::infinity();

SensorSnapshot fullSnapshot() {
    SensorSnapshot snapshot;
    snapshot.protocolVersion = 1;
    snapshot.timestamp = 786000123.456789;
    snapshot.processorName = "Apple M3 Max \xC3\xA9 \"quoted\"";
    snapshot.gpu = GPUReading{37.25, 12.5, 0.1};
    snapshot.cpuTemperatureCelsius = 47.5;
    snapshot.gpuTemperatureCelsius = 1e300;
    snapshot.fanCount = 3;
    snapshot.fans = {FanReading{0, 1200.75, 1000, 6000}, FanReading{2, 0, std::nullopt, 5800}};
    snapshot.pluginVersion = "1.2.3";
    snapshot.pluginBuild = std::numeric_limits<std::int64_t>::min();
    return snapshot;
}

std::vector<std::string> keysInOrder(const nlohmann::ordered_json& object) {
    std::vector<std::string> keys;
    for (auto& [key, value] : object.items())
        keys.push_back(key);
    return keys;
}

} // namespace

TEST(SnapshotEncoding, BothStylesRoundTripEveryField) {
    SensorSnapshot snapshot = fullSnapshot();
    for (auto encoded : {encodeCompact(snapshot), encodePrettySorted(snapshot)}) {
        ASSERT_TRUE(encoded);
        EXPECT_EQ(decodeSnapshot(*encoded), snapshot) << *encoded;
    }
    snapshot.pluginBuild = std::numeric_limits<std::int64_t>::max();
    EXPECT_EQ(decodeSnapshot(*encodeCompact(snapshot)), snapshot);
}

TEST(SnapshotEncoding, AbsentFieldsAreLeftOutAndFansAlwaysWritten) {
    SensorSnapshot bare;
    bare.timestamp = 0;
    auto compact = encodeCompact(bare);
    ASSERT_TRUE(compact);
    EXPECT_EQ(*compact, R"({"fans":[],"protocolVersion":1,"timestamp":0.0})");

    SensorSnapshot snapshot;
    snapshot.fans = {FanReading{4, 900, std::nullopt, std::nullopt}};
    snapshot.gpu = GPUReading{5, std::nullopt, std::nullopt};
    auto json = nlohmann::json::parse(*encodeCompact(snapshot));
    EXPECT_EQ(json["fans"][0].size(), 2u);
    EXPECT_EQ(json["gpu"].size(), 1u);
}

TEST(SnapshotEncoding, PrettyStyleSortsKeysOfEveryObject) {
    auto pretty = encodePrettySorted(fullSnapshot());
    ASSERT_TRUE(pretty);
    EXPECT_NE(pretty->find('\n'), std::string::npos);
    auto ordered = nlohmann::ordered_json::parse(*pretty);
    EXPECT_EQ(keysInOrder(ordered),
              (std::vector<std::string>{"cpuTemperatureCelsius", "fanCount", "fans", "gpu",
                                        "gpuTemperatureCelsius", "pluginBuild", "pluginVersion",
                                        "processorName", "protocolVersion", "timestamp"}));
    EXPECT_EQ(keysInOrder(ordered["gpu"]),
              (std::vector<std::string>{"rendererPercent", "tilerPercent", "utilizationPercent"}));
    EXPECT_EQ(keysInOrder(ordered["fans"][0]),
              (std::vector<std::string>{"currentRPM", "id", "maximumRPM", "minimumRPM"}));
}

TEST(SnapshotEncoding, CompactStyleIsOneLineWithoutPadding) {
    auto compact = encodeCompact(fullSnapshot());
    ASSERT_TRUE(compact);
    EXPECT_EQ(compact->find('\n'), std::string::npos);
    EXPECT_EQ(compact->find(": "), std::string::npos);
    EXPECT_EQ(compact->find(", "), std::string::npos);
}

TEST(SnapshotEncoding, AnyNonFiniteDoubleFailsTheWholeRecord) {
    std::vector<std::function<void(SensorSnapshot&)>> spoilers = {
        [](SensorSnapshot& s) { s.cpuTemperatureCelsius = notANumber; },
        [](SensorSnapshot& s) { s.gpuTemperatureCelsius = -infinity; },
        [](SensorSnapshot& s) { s.timestamp = infinity; },
        [](SensorSnapshot& s) { s.gpu->utilizationPercent = notANumber; },
        [](SensorSnapshot& s) { s.gpu->tilerPercent = infinity; },
        [](SensorSnapshot& s) { s.fans[1].currentRPM = notANumber; },
        [](SensorSnapshot& s) { s.fans[0].maximumRPM = infinity; },
    };
    for (std::size_t i = 0; i < spoilers.size(); ++i) {
        SensorSnapshot snapshot = fullSnapshot();
        spoilers[i](snapshot);
        EXPECT_FALSE(encodeCompact(snapshot)) << "spoiler " << i;
        EXPECT_FALSE(encodePrettySorted(snapshot)) << "spoiler " << i;
    }
}

TEST(SnapshotDecoding, OptionalKeysMayBeMissingOrNull) {
    auto snapshot = decodeSnapshot(R"({"protocolVersion":1,"timestamp":0,"fans":[],
        "processorName":null,"gpu":null,"cpuTemperatureCelsius":null,"fanCount":null,
        "pluginVersion":null,"pluginBuild":null,"gpuTemperatureCelsius":null})");
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(*snapshot, SensorSnapshot{});

    auto withNulls = decodeSnapshot(R"({"protocolVersion":7,"timestamp":12,"fans":[
        {"id":3,"currentRPM":5,"minimumRPM":null}],"gpu":{"utilizationPercent":1,"tilerPercent":null}})");
    ASSERT_TRUE(withNulls);
    EXPECT_EQ(withNulls->protocolVersion, 7);
    EXPECT_EQ(withNulls->fans, (std::vector<FanReading>{{3, 5, std::nullopt, std::nullopt}}));
    EXPECT_EQ(withNulls->gpu, (GPUReading{1, std::nullopt, std::nullopt}));
}

TEST(SnapshotDecoding, UnknownKeysAreIgnoredAtEveryLevel) {
    auto snapshot = decodeSnapshot(R"({"protocolVersion":1,"timestamp":1.5,"extra":{"x":[1]},
        "gpu":{"utilizationPercent":3,"vendor":"x"},"fans":[{"id":0,"currentRPM":1,"label":7}]})");
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->timestamp, 1.5);
    EXPECT_EQ(snapshot->gpu->utilizationPercent, 3);
    EXPECT_EQ(snapshot->fans.size(), 1u);
}

TEST(SnapshotDecoding, RejectsEveryBrokenRule) {
    const char* rejected[] = {
        "",
        "[]",
        "null",
        R"({"protocolVersion":1,"timestamp":0})",                         // fans missing
        R"({"protocolVersion":1,"timestamp":0,"fans":null})",             // required null
        R"({"timestamp":0,"fans":[]})",                                   // version missing
        R"({"protocolVersion":1,"fans":[]})",                             // timestamp missing
        R"({"protocolVersion":1,"timestamp":"0","fans":[]})",             // date string
        R"({"protocolVersion":"1","timestamp":0,"fans":[]})",
        R"({"protocolVersion":1.5,"timestamp":0,"fans":[]})",             // fraction
        R"({"protocolVersion":1e0,"timestamp":0,"fans":[]})",             // exponent form
        R"({"protocolVersion":9223372036854775808,"timestamp":0,"fans":[]})",
        R"({"protocolVersion":-9223372036854775809,"timestamp":0,"fans":[]})",
        R"({"protocolVersion":1,"timestamp":0,"fans":{}})",
        R"({"protocolVersion":1,"timestamp":0,"fans":[1]})",
        R"({"protocolVersion":1,"timestamp":0,"fans":[{"id":0}]})",
        R"({"protocolVersion":1,"timestamp":0,"fans":[{"currentRPM":1}]})",
        R"({"protocolVersion":1,"timestamp":0,"fans":[{"id":0,"currentRPM":1,"minimumRPM":"x"}]})",
        R"({"protocolVersion":1,"timestamp":0,"fans":[{"id":0,"currentRPM":1},{"id":true,"currentRPM":1}]})",
        R"({"protocolVersion":1,"timestamp":0,"fans":[],"gpu":{}})",
        R"({"protocolVersion":1,"timestamp":0,"fans":[],"gpu":[]})",
        R"({"protocolVersion":1,"timestamp":0,"fans":[],"gpu":{"utilizationPercent":1,"rendererPercent":"2"}})",
        R"({"protocolVersion":1,"timestamp":0,"fans":[],"processorName":5})",
        R"({"protocolVersion":1,"timestamp":0,"fans":[],"pluginVersion":false})",
        R"({"protocolVersion":1,"timestamp":0,"fans":[],"fanCount":2.0})",
        R"({"protocolVersion":1,"timestamp":0,"fans":[],"pluginBuild":"42"})",
        R"({"protocolVersion":1,"timestamp":0,"fans":[],"cpuTemperatureCelsius":"40"})",
        R"({"protocolVersion":1,"timestamp":0,"fans":[]} trailing)",
        R"({"protocolVersion":1,"timestamp":0,"fans":[],"processorName":"\xC3"})",  // bad UTF-8
    };
    for (const char* text : rejected)
        EXPECT_FALSE(decodeSnapshot(text)) << text;
}

TEST(SnapshotDecoding, IntegersSpanSigned64BitsAndDoublesTakeIntegers) {
    auto snapshot = decodeSnapshot(R"({"protocolVersion":-9223372036854775808,"timestamp":-5,
        "fans":[],"pluginBuild":9223372036854775807,"cpuTemperatureCelsius":40})");
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->protocolVersion, std::numeric_limits<std::int64_t>::min());
    EXPECT_EQ(snapshot->pluginBuild, std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(snapshot->cpuTemperatureCelsius, 40.0);
    EXPECT_EQ(snapshot->timestamp, -5.0);
}

TEST(SnapshotEquality, EveryFieldCounts) {
    SensorSnapshot a = fullSnapshot(), b = fullSnapshot();
    EXPECT_EQ(a, b);
    b.timestamp = std::nextafter(a.timestamp, 1e12);
    EXPECT_NE(a, b);
    b = a;
    b.fans[1].minimumRPM = 0;
    EXPECT_NE(a, b);
    b = a;
    std::swap(b.fans[0], b.fans[1]);
    EXPECT_NE(a, b);
    b = a;
    b.gpu->rendererPercent.reset();
    EXPECT_NE(a, b);
}
