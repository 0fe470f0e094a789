#include "Shared/SnapshotJSON.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>

using nlohmann::json;

namespace {

const std::string fullText = R"({"protocolVersion":1,"timestamp":786000123.456789,
    "processorName":"Apple M3 \u00e9 \"x\"","cpuTemperatureCelsius":47.5,"fanCount":3,
    "gpuTemperatureCelsius":1e300,"pluginVersion":"1.2.3","pluginBuild":-9223372036854775808,
    "gpu":{"utilizationPercent":37.25,"rendererPercent":12.5,"tilerPercent":0.1},
    "fans":[{"id":0,"currentRPM":1200.75,"minimumRPM":1000,"maximumRPM":6000},
            {"id":2,"currentRPM":0,"maximumRPM":5800}]})";

bool keysSorted(const nlohmann::ordered_json& object) {
    std::vector<std::string> keys;
    for (auto& item : object.items())
        keys.push_back(item.key());
    return std::is_sorted(keys.begin(), keys.end());
}

} // namespace

TEST(SnapshotJSON, BothStylesWriteEachFieldUnderItsNameAndReadBack) {
    SensorSnapshot full = decodeSnapshot(fullText).value();
    for (auto encoded : {encodeCompact(full), encodePrettySorted(full)}) {
        ASSERT_TRUE(encoded);
        EXPECT_EQ(json::parse(*encoded), json::parse(fullText)) << *encoded;
        EXPECT_EQ(decodeSnapshot(*encoded), full);
    }
    EXPECT_EQ(encodeCompact(full)->find('\n'), std::string::npos);
    auto pretty = nlohmann::ordered_json::parse(*encodePrettySorted(full));
    EXPECT_TRUE(keysSorted(pretty) && keysSorted(pretty["gpu"]) && keysSorted(pretty["fans"][0]));
    EXPECT_EQ(json::parse(*encodeCompact(SensorSnapshot{})),
              json::parse(R"({"fans":[],"protocolVersion":1,"timestamp":0})"));

    // Required doubles are written one by one, optional ones through one helper.
    for (int field = 0; field < 4; ++field) {
        SensorSnapshot s = full;
        double* doubles[] = {&s.timestamp, &s.gpu->utilizationPercent, &s.fans[1].currentRPM,
                             &*s.fans[1].maximumRPM};
        *doubles[field] = field % 2 ? NAN : -INFINITY;
        EXPECT_FALSE(encodeCompact(s) || encodePrettySorted(s)) << "field " << field;
    }
}

TEST(SnapshotJSON, DecodingTakesNullForAbsentIgnoresUnknownKeysAndRejectsEveryBrokenRule) {
    EXPECT_EQ(decodeSnapshot(R"({"protocolVersion":7,"timestamp":12,"x":{},"fanCount":null,
        "fans":[{"id":3,"currentRPM":5,"minimumRPM":null,"x":7}],"gpu":{"utilizationPercent":1,
        "tilerPercent":null,"x":"y"},"processorName":null,"pluginBuild":null})"),
              (SensorSnapshot{7,
                              12,
                              {},
                              GPUReading{1, {}, {}},
                              {},
                              {},
                              {},
                              std::vector{FanReading{3, 5, {}, {}}},
                              {},
                              {}}));
    EXPECT_EQ(decodeSnapshot(R"({"protocolVersion":1,"timestamp":0,"fans":[],"gpu":null})"),
              SensorSnapshot{});
    const std::string head = R"({"protocolVersion":1,"timestamp":0)";
    const std::string rejected[] = {
        "[]",
        head + R"(,"fans":null})",
        R"({"timestamp":0,"fans":[]})",
        R"({"protocolVersion":1,"fans":[]})",
        R"({"protocolVersion":1.5,"timestamp":0,"fans":[]})",
        R"({"protocolVersion":9223372036854775808,"timestamp":0,"fans":[]})",
        head + R"(,"fans":{}})",
        head + R"(,"fans":[{"id":0}]})",
        head + R"(,"fans":[],"gpu":{}})",
        head + R"(,"fans":[],"gpu":{"utilizationPercent":1,"rendererPercent":"2"}})",
        head + R"(,"fans":[],"processorName":5})",
        head + R"(,"fans":[],"fanCount":2.5})",
        head + R"(,"fans":[],"pluginBuild":"42"})",
        head + R"(,"fans":[]} trailing)",
    };
    for (const std::string& text : rejected)
        EXPECT_FALSE(decodeSnapshot(text)) << text;
}
