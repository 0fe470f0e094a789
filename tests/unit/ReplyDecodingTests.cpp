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
    const std::string fine = replyWith("{}").dump(), hot = R"({"cpuTemperatureCelsius":150})";
    const std::pair<std::string, std::variant<SensorSnapshot, ClientError>> cases[] = {
        {fine + std::string(65536 - fine.size(), ' '), *decodeSnapshot(fine)},
        {fine + std::string(65537 - fine.size(), ' '), responseTooLarge},
        {"", invalidResponse},
        {R"({"protocolVersion":2,"timestamp":0})", invalidResponse},
        {replyWith(R"({"protocolVersion":0,"cpuTemperatureCelsius":150})").dump(),
         incompatibleVersion},
        {replyWith(hot).dump(), invalidResponse},
    };
    for (const auto& [reply, expected] : cases)
        EXPECT_EQ(decodeReply(reply), expected) << reply.substr(0, 40) << " " << reply.size();
}

TEST(ReplyDecoding, TextsBuildAndFansAtTheirLimits) {
    std::string name, version; // user-perceived characters of two code points each
    for (int count = 0; count < 256; ++count)
        name += "e\xCC\x81", version += count < 64 ? "e\xCC\x81" : "";
    const std::pair<std::string, bool> cases[] = {
        {"{}", true},
        {R"({"processorName":null,"gpu":null,"cpuTemperatureCelsius":null,"fanCount":null,
            "gpuTemperatureCelsius":null,"pluginVersion":null,"pluginBuild":null,"fans":[]})",
         true},
        {R"({"processorName":")" + name + R"("})", true},
        {R"({"processorName":")" + std::string(257, 'a') + R"("})", false},
        {R"({"pluginVersion":""})", false},
        {R"({"pluginVersion":")" + version + R"("})", true},
        {R"({"pluginVersion":")" + std::string(65, '9') + R"("})", false},
        {R"({"pluginBuild":0})", false},
        {R"({"pluginBuild":2147483647})", true},
        {R"({"pluginBuild":2147483648})", false},
        {R"({"gpu":{"rendererPercent":null,"tilerPercent":null}})", true},
        {R"({"fans":[{"id":0,"currentRPM":9,"minimumRPM":50,"maximumRPM":5}]})", true},
        {R"({"fanCount":-1,"fans":[]})", false},
        {R"({"fanCount":9,"fans":[]})", false},
        {R"({"fanCount":8,"fans":[{"id":7,"currentRPM":0}]})", true},
        {R"({"fanCount":null,"fans":[{"id":8,"currentRPM":0}]})", false},
        {R"({"fanCount":null,"fans":[{"id":-1,"currentRPM":0}]})", false},
        {R"({"fans":[{"id":2,"currentRPM":0}]})", false}, // not below the count
        {R"({"fans":[{"id":1,"currentRPM":0},{"id":1,"currentRPM":0}]})", false},
    };
    for (const auto& [patch, valid] : cases)
        EXPECT_EQ(plausible(replyWith(patch)), valid) << patch.substr(0, 80);
}

// Each reading holds at both ends of its range and fails just beyond either.
TEST(ReplyDecoding, ReadingsWithinTheirRanges) {
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

TEST(ClientError, EachCaseHasItsOwnSentence) {
    const std::pair<ClientError, const char*> sentences[] = {
        {unavailable, "The sensor service is unavailable."},
        {timedOut, "The sensor service did not respond."},
        {responseTooLarge, "The sensor service returned too much data."},
        {invalidResponse, "The sensor service returned invalid data."},
        {incompatibleVersion, "Corvane and its plugin are not compatible. Update both apps."},
    };
    for (auto [error, sentence] : sentences)
        EXPECT_EQ(description(error), sentence);
}
