#include "Shared/SnapshotJSON.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

namespace {

const SensorSnapshot full(1, 786000123.456789, "Apple M3 Max \xC3\xA9 \"quoted\"",
                          GPUReading(37.25, 12.5, 0.1), 47.5, 1e300, 3,
                          std::vector{FanReading(0, 1200.75, 1000, 6000),
                                      FanReading(2, 0, std::nullopt, 5800)},
                          "1.2.3", 42);

// True when the keys of this object and of every object inside it are in sorted order.
bool keysSorted(const nlohmann::ordered_json& value) {
    std::vector<std::string> keys;
    for (auto& [key, inner] : value.items()) {
        keys.push_back(value.is_object() ? key : "");
        if (inner.is_structured() && !keysSorted(inner))
            return false;
    }
    return std::is_sorted(keys.begin(), keys.end());
}

} // namespace

TEST(SnapshotEncoding, BothStylesRoundTripEveryField) {
    SensorSnapshot snapshot = full;
    for (auto build : {INT64_MIN, INT64_MAX}) {
        snapshot.pluginBuild = build;
        for (auto encoded : {encodeCompact(snapshot), encodePrettySorted(snapshot)}) {
            ASSERT_TRUE(encoded);
            EXPECT_EQ(decodeSnapshot(*encoded), snapshot) << *encoded;
        }
    }
    SensorSnapshot later = full; // equality takes in every field
    later.timestamp = std::nextafter(full.timestamp, 1e12);
    EXPECT_NE(later, full);
    EXPECT_EQ(encodeCompact(snapshot)->find('\n'), std::string::npos);
    auto pretty = encodePrettySorted(snapshot);
    EXPECT_NE(pretty->find('\n'), std::string::npos);
    EXPECT_TRUE(keysSorted(nlohmann::ordered_json::parse(*pretty))) << *pretty;
}

TEST(SnapshotEncoding, AbsentFieldsAreLeftOutAndFansAlwaysWritten) {
    SensorSnapshot snapshot;
    EXPECT_EQ(encodeCompact(snapshot), R"({"fans":[],"protocolVersion":1,"timestamp":0.0})");
    snapshot.fans = {FanReading{4, 900, std::nullopt, std::nullopt}};
    snapshot.gpu = GPUReading{5, std::nullopt, std::nullopt};
    EXPECT_EQ(encodeCompact(snapshot), R"({"fans":[{"currentRPM":900.0,"id":4}],)"
                                       R"("gpu":{"utilizationPercent":5.0},)"
                                       R"("protocolVersion":1,"timestamp":0.0})");
}

TEST(SnapshotEncoding, AnyNonFiniteDoubleFailsTheWholeRecord) {
    for (int field = 0; field < 9; ++field) {
        SensorSnapshot s = full;
        double* doubles[] = {&s.timestamp,
                             &*s.cpuTemperatureCelsius,
                             &*s.gpuTemperatureCelsius,
                             &s.gpu->utilizationPercent,
                             &*s.gpu->rendererPercent,
                             &*s.gpu->tilerPercent,
                             &s.fans[0].currentRPM,
                             &*s.fans[0].minimumRPM,
                             &*s.fans[0].maximumRPM};
        *doubles[field] = field % 3 == 0 ? NAN : field % 3 == 1 ? INFINITY : -INFINITY;
        EXPECT_FALSE(encodeCompact(s)) << "field " << field;
        EXPECT_FALSE(encodePrettySorted(s)) << "field " << field;
    }
}

TEST(SnapshotDecoding, OptionalKeysMissingOrNullAndUnknownKeysIgnored) {
    auto snapshot = decodeSnapshot(R"({"protocolVersion":1,"timestamp":0,"fans":[],
        "processorName":null,"gpu":null,"cpuTemperatureCelsius":null,"fanCount":null,
        "pluginVersion":null,"pluginBuild":null,"gpuTemperatureCelsius":null})");
    EXPECT_EQ(snapshot, SensorSnapshot{});

    snapshot = decodeSnapshot(R"({"protocolVersion":7,"timestamp":12,"extra":{"x":[1]},"fans":[
        {"id":3,"currentRPM":5,"minimumRPM":null,"label":7}],
        "gpu":{"utilizationPercent":1,"tilerPercent":null,"vendor":"x"}})");
    EXPECT_EQ(snapshot, SensorSnapshot(7, 12, {}, GPUReading(1, {}, {}), {}, {}, {},
                                       std::vector{FanReading(3, 5, {}, {})}, {}, {}));
}

TEST(SnapshotDecoding, RejectsEveryBrokenRule) {
    const std::string head = R"({"protocolVersion":1,"timestamp":0)";
    const std::string rejected[] = {
        "[]",
        head + "}", // fans missing
        head + R"(,"fans":null})",
        R"({"timestamp":0,"fans":[]})",
        R"({"protocolVersion":1,"fans":[]})",
        R"({"protocolVersion":1.5,"timestamp":0,"fans":[]})",
        R"({"protocolVersion":1e0,"timestamp":0,"fans":[]})",
        R"({"protocolVersion":9223372036854775808,"timestamp":0,"fans":[]})",
        R"({"protocolVersion":-9223372036854775809,"timestamp":0,"fans":[]})",
        head + R"(,"fans":{}})",
        head + R"(,"fans":[{"id":0}]})",
        head + R"(,"fans":[{"id":0,"currentRPM":1},{"id":0,"currentRPM":1,"minimumRPM":"x"}]})",
        head + R"(,"fans":[],"gpu":{}})",
        head + R"(,"fans":[],"gpu":{"utilizationPercent":1,"rendererPercent":"2"}})",
        head + R"(,"fans":[],"processorName":5})",
        head + R"(,"fans":[],"fanCount":2.0})",
        head + R"(,"fans":[],"pluginBuild":"42"})",
        head + R"(,"fans":[]} trailing)",
    };
    for (const std::string& text : rejected)
        EXPECT_FALSE(decodeSnapshot(text)) << text;
}
