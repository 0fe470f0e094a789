#include "Shared/SnapshotJSON.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>

using nlohmann::json;

TEST(SnapshotJSON, BothStylesWriteEachFieldUnderItsNameAndReadBack) {
    const std::string fullText = R"({"protocolVersion":1,"timestamp":786000123.456789,
        "processorName":"Apple M3 \u00e9 \"x\"","cpuTemperatureCelsius":47.5,"fanCount":3,
        "gpuTemperatureCelsius":1e300,"pluginVersion":"1.2.3","pluginBuild":-9223372036854775808,
        "gpu":{"utilizationPercent":37.25,"rendererPercent":12.5,"tilerPercent":0.1},
        "fans":[{"id":0,"currentRPM":1200.75,"minimumRPM":1000,"maximumRPM":6000},
                {"id":2,"currentRPM":0,"maximumRPM":5800}]})";
    SensorSnapshot full = decodeSnapshot(fullText).value();
    for (auto encoded : {encodeCompact(full), encodePrettySorted(full)}) {
        ASSERT_TRUE(encoded);
        EXPECT_EQ(json::parse(*encoded), json::parse(fullText)) << *encoded;
    }
    EXPECT_EQ(json::parse(*encodeCompact(SensorSnapshot{})),
              json::parse(R"({"fans":[],"protocolVersion":1,"timestamp":0})"));
    // Required doubles are written one by one, optional ones through one helper.
    for (int field = 0; field < 4; ++field) {
        SensorSnapshot s = full;
        double* doubles[] = {&s.timestamp, &s.gpu->utilizationPercent, &s.fans[1].currentRPM,
                             &*s.fans[1].maximumRPM};
        *doubles[field] = field % 2 ? std::numeric_limits<double>::quiet_NaN()
                                    : -std::numeric_limits<double>::infinity();
        EXPECT_FALSE(encodeCompact(s) || encodePrettySorted(s)) << "field " << field;
    }
}

TEST(SnapshotJSON, DecodingTakesNullForAbsentIgnoresUnknownKeysAndRejectsEveryBrokenRule) {
    SensorSnapshot expected;
    expected.protocolVersion = 7;
    expected.gpu = GPUReading{1, {}, {}};
    expected.fans = {FanReading{3, 5, {}, {}}};
    EXPECT_EQ(decodeSnapshot(R"({"protocolVersion":7,"timestamp":0,"x":{},"fanCount":null,
        "fans":[{"id":3,"currentRPM":5,"minimumRPM":null,"x":7}],"gpu":{"utilizationPercent":1,
        "tilerPercent":null,"x":"y"},"processorName":null,"pluginBuild":null})"),
              expected);
    const std::string head = R"({"protocolVersion":1,"timestamp":0)";
    const std::string rejected[] = {
        head + R"(,"fans":null})",
        R"({"timestamp":0,"fans":[]})",
        R"({"protocolVersion":9223372036854775808,"timestamp":0,"fans":[]})",
        head + R"(,"fans":[],"gpu":{}})",
        head + R"(,"fans":[],"gpu":{"utilizationPercent":1,"rendererPercent":"2"}})",
        head + R"(,"fans":[],"fanCount":2.5})",
        head + R"(,"fans":[]} trailing)",
    };
    for (const std::string& text : rejected)
        EXPECT_FALSE(decodeSnapshot(text)) << text;
}
