#include "App/ReplyDecoding.h"
#include "Shared/SnapshotJSON.h"

#include <gtest/gtest.h>

namespace {

SensorSnapshot ordinarySnapshot() {
    SensorSnapshot snapshot;
    snapshot.timestamp = 786000000.25;
    snapshot.processorName = "Intel(R) Core(TM) i7-9750H CPU @ 2.60GHz";
    snapshot.gpu = GPUReading{12, std::nullopt, std::nullopt};
    snapshot.cpuTemperatureCelsius = 61.5;
    snapshot.fanCount = 1;
    snapshot.fans = {FanReading{0, 2100, 1200, 5400}};
    snapshot.pluginVersion = "1.0.0";
    snapshot.pluginBuild = 1;
    return snapshot;
}

std::string encoded(const SensorSnapshot& snapshot) {
    return encodeCompact(snapshot).value();
}

// JSON allows white space after the value, so any reply can be padded to a length.
std::string paddedTo(std::string reply, std::size_t length) {
    reply.resize(length, ' ');
    return reply;
}

std::variant<SensorSnapshot, ClientError> failure(ClientError error) {
    return error;
}

} // namespace

TEST(ReplyDecoding, AnOrdinaryReplyGivesItsSnapshot) {
    SensorSnapshot snapshot = ordinarySnapshot();
    EXPECT_EQ(decodeReply(encoded(snapshot)),
              (std::variant<SensorSnapshot, ClientError>(snapshot)));
}

TEST(ReplyDecoding, SizeLimitIs65536BytesAndComesFirst) {
    SensorSnapshot snapshot = ordinarySnapshot();
    EXPECT_EQ(decodeReply(paddedTo(encoded(snapshot), 65536)),
              (std::variant<SensorSnapshot, ClientError>(snapshot)));
    EXPECT_EQ(decodeReply(paddedTo(encoded(snapshot), 65537)),
              failure(ClientError::responseTooLarge));
    // Were the bytes decoded first, these would be refused as invalid or incompatible.
    EXPECT_EQ(decodeReply(std::string(65537, '{')), failure(ClientError::responseTooLarge));
    snapshot.protocolVersion = 2;
    EXPECT_EQ(decodeReply(paddedTo(encoded(snapshot), 65537)),
              failure(ClientError::responseTooLarge));
}

TEST(ReplyDecoding, UndecodableRepliesAreInvalidWhateverVersionTheyName) {
    EXPECT_EQ(decodeReply(""), failure(ClientError::invalidResponse));
    EXPECT_EQ(decodeReply(R"({"protocolVersion":2,"timestamp":0,"fans":[)"),
              failure(ClientError::invalidResponse));
    EXPECT_EQ(decodeReply(R"({"protocolVersion":2,"timestamp":0})"),
              failure(ClientError::invalidResponse));
    EXPECT_EQ(decodeReply(R"({"protocolVersion":2,"timestamp":"now","fans":[]})"),
              failure(ClientError::invalidResponse));
    EXPECT_EQ(decodeReply(R"({"protocolVersion":1.5,"timestamp":0,"fans":[]})"),
              failure(ClientError::invalidResponse));
}

TEST(ReplyDecoding, AnyOtherVersionIsIncompatibleBeforePlausibilityIsChecked) {
    for (std::int64_t version : {std::int64_t(0), std::int64_t(2), std::int64_t(-1),
                                 std::numeric_limits<std::int64_t>::max()}) {
        SensorSnapshot snapshot = ordinarySnapshot();
        snapshot.protocolVersion = version;
        EXPECT_EQ(decodeReply(encoded(snapshot)), failure(ClientError::incompatibleVersion))
            << version;
        snapshot.cpuTemperatureCelsius = 150;
        EXPECT_EQ(decodeReply(encoded(snapshot)), failure(ClientError::incompatibleVersion))
            << version << " implausible";
    }
}

TEST(ReplyDecoding, ImplausibleSnapshotOfTheRightVersionIsInvalid) {
    SensorSnapshot snapshot = ordinarySnapshot();
    snapshot.cpuTemperatureCelsius = 150;
    EXPECT_EQ(decodeReply(encoded(snapshot)), failure(ClientError::invalidResponse));
    EXPECT_EQ(decodeReply(paddedTo(encoded(snapshot), 65536)),
              failure(ClientError::invalidResponse));
}
