#include "App/ReplyDecoding.h"
#include "Shared/SnapshotJSON.h"

#include <gtest/gtest.h>

TEST(ClientErrorDescription, EachCaseHasItsOwnSentence) {
    EXPECT_EQ(description(ClientError::unavailable), "The sensor service is unavailable.");
    EXPECT_EQ(description(ClientError::timedOut), "The sensor service did not respond.");
    EXPECT_EQ(description(ClientError::responseTooLarge),
              "The sensor service returned too much data.");
    EXPECT_EQ(description(ClientError::invalidResponse),
              "The sensor service returned invalid data.");
    EXPECT_EQ(description(ClientError::incompatibleVersion),
              "Corvane and its plugin are not compatible. Update both apps.");
}

TEST(ReplyDecoding, ChecksSizeThenDecodingThenVersionThenPlausibility) {
    SensorSnapshot ordinary;
    ordinary.processorName = "Intel(R) Core(TM) i7-9750H CPU @ 2.60GHz";
    ordinary.fans = {FanReading{0, 2100, 1200, 5400}};
    SensorSnapshot hot = ordinary;
    hot.cpuTemperatureCelsius = 150;
    auto encoded = [](SensorSnapshot snapshot, std::int64_t version = 1) {
        snapshot.protocolVersion = version;
        return encodeCompact(snapshot).value();
    };
    // JSON allows white space after the value, so any reply can be padded to a length.
    auto padded = [](std::string reply, std::size_t length) {
        reply.resize(length, ' ');
        return reply;
    };
    using Result = std::variant<SensorSnapshot, ClientError>;
    const std::pair<std::string, Result> cases[] = {
        {encoded(ordinary), ordinary},
        {padded(encoded(ordinary), 65536), ordinary},
        {padded(encoded(ordinary), 65537), ClientError::responseTooLarge},
        // Were these decoded first, they would be invalid.
        {std::string(65537, '{'), ClientError::responseTooLarge},
        {"", ClientError::invalidResponse},
        {R"({"protocolVersion":2,"timestamp":0})", ClientError::invalidResponse},
        {encoded(ordinary, 2), ClientError::incompatibleVersion},
        {encoded(hot, 2), ClientError::incompatibleVersion},
        {encoded(hot, 0), ClientError::incompatibleVersion},
        {encoded(hot), ClientError::invalidResponse},
    };
    for (const auto& [reply, expected] : cases)
        EXPECT_EQ(decodeReply(reply), expected)
            << reply.substr(0, 60) << " (" << reply.size() << " bytes)";
}
