#include "App/ReplyDecoding.h"
#include "Shared/SnapshotJSON.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cmath>

using nlohmann::json;
using enum ClientError;

namespace {

// A plausible reply, every optional reading present, with a JSON merge patch applied.
json replyWith(const std::string& patch) {
    json reply = json::parse(R"({"protocolVersion":1,"timestamp":0,"processorName":"Apple M2",
        "gpu":{"utilizationPercent":40,"rendererPercent":30,"tilerPercent":20},"fanCount":2,
        "cpuTemperatureCelsius":55,"gpuTemperatureCelsius":50,"pluginVersion":"1","pluginBuild":4,
        "fans":[{"id":0,"currentRPM":1800,"minimumRPM":1200,"maximumRPM":5600},
                {"id":1,"currentRPM":1750,"minimumRPM":1200,"maximumRPM":5600}]})");
    reply.merge_patch(json::parse(patch));
    return reply;
}

bool plausible(const json& reply) {
    return std::holds_alternative<SensorSnapshot>(decodeReply(reply.dump()));
}

} // namespace

TEST(ReplyDecoding, ChecksSizeThenDecodingThenVersionThenPlausibility) {
    const std::string fine = replyWith("{}").dump();
    const std::pair<std::string, std::variant<SensorSnapshot, ClientError>> cases[] = {
        {fine + std::string(65536 - fine.size(), ' '), *decodeSnapshot(fine)},
        {fine + std::string(65537 - fine.size(), ' '), responseTooLarge},
        {R"({"protocolVersion":2,"timestamp":0})", invalidResponse},
        {replyWith(R"({"protocolVersion":0,"cpuTemperatureCelsius":150})").dump(),
         incompatibleVersion},
        {replyWith(R"({"cpuTemperatureCelsius":150})").dump(), invalidResponse},
    };
    for (const auto& [reply, expected] : cases)
        EXPECT_EQ(decodeReply(reply), expected) << reply.substr(0, 40) << " " << reply.size();
}

// Texts by user-perceived characters, builds, fans and readings at their limits.
TEST(ReplyDecoding, PlausibleAtTheLimitsAndNotBeyond) {
    std::string name; // 256 characters of two code points each
    for (int count = 0; count < 256; ++count)
        name += "e\xCC\x81";
    const std::pair<std::string, bool> cases[] = {
        {R"({"processorName":null,"gpu":null,"cpuTemperatureCelsius":null,"fans":[],
            "gpuTemperatureCelsius":null,"pluginVersion":null,"pluginBuild":null})",
         true},
        {R"({"processorName":")" + name + R"("})", true},
        {R"({"processorName":")" + name + R"(a"})", false},
        {R"({"pluginVersion":""})", false},
        {R"({"pluginVersion":")" + name.substr(0, 64 * 3) + R"("})", true},
        {R"({"pluginVersion":")" + std::string(65, '9') + R"("})", false},
        {R"({"pluginBuild":0})", false},
        {R"({"pluginBuild":2147483647})", true},
        {R"({"pluginBuild":2147483648})", false},
        {R"({"fanCount":9,"fans":[]})", false},
        {R"({"fanCount":8,"fans":[{"id":7,"currentRPM":0}]})", true},
        {R"({"fanCount":null,"fans":[{"id":8,"currentRPM":0}]})", false},
        {R"({"fanCount":null,"fans":[{"id":-1,"currentRPM":0}]})", false},
        {R"({"fans":[{"id":2,"currentRPM":0}]})", false}, // not below the count
        {R"({"fans":[{"id":1,"currentRPM":0},{"id":1,"currentRPM":0}]})", false},
    };
    for (const auto& [patch, valid] : cases)
        EXPECT_EQ(plausible(replyWith(patch)), valid) << patch.substr(0, 80);
    const std::tuple<const char*, double, double> ranges[] = {
        {"/gpu/utilizationPercent", 0, 100}, {"/gpu/rendererPercent", 0, 100},
        {"/gpu/tilerPercent", 0, 100},       {"/cpuTemperatureCelsius", 10, 120},
        {"/gpuTemperatureCelsius", 10, 120}, {"/fans/1/currentRPM", 0, 100000},
        {"/fans/1/minimumRPM", 0, 100000},   {"/fans/1/maximumRPM", 0, 100000},
    };
    for (auto [pointer, lowest, highest] : ranges)
        for (double value :
             {lowest, highest, std::nextafter(lowest, -1e9), std::nextafter(highest, 1e9)}) {
            json reply = replyWith("{}");
            reply[json::json_pointer(pointer)] = value;
            EXPECT_EQ(plausible(reply), value == lowest || value == highest)
                << pointer << " " << value;
        }
}
