#include "Shared/ServiceFrames.h"

#include <gtest/gtest.h>

using frames::FrameReader;

namespace {

std::string header(std::uint32_t length) {
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8)
        bytes.push_back(char((length >> shift) & 0xFF));
    return bytes;
}

} // namespace

TEST(FrameEncoding, LengthIsFourLittleEndianBytes) {
    EXPECT_EQ(frames::encodeFrame("abc"), header(3) + "abc");
    EXPECT_EQ(frames::encodeFrame(std::string(0x0102, 'x'))->substr(0, 4),
              std::string("\x02\x01\x00\x00", 4));
    EXPECT_EQ(frames::encodeFrame(""), std::string(4, '\0'));
}

TEST(FrameEncoding, LimitIsFarAboveTheLargestReplyAndEnforced) {
    EXPECT_GT(frames::frameLimit, 65537u * 8);
    EXPECT_TRUE(frames::encodeFrame(std::string(frames::frameLimit, 'x')));
    EXPECT_FALSE(frames::encodeFrame(std::string(frames::frameLimit + 1, 'x')));
}

TEST(FrameReading, FramesSurviveAnySplitOfTheStream) {
    std::string stream = *frames::encodeFrame("first") + *frames::encodeFrame("") +
                         *frames::encodeFrame(std::string(70000, 'z'));
    FrameReader reader;
    std::vector<std::string> payloads;
    for (char byte : stream) {
        reader.feed(std::string_view(&byte, 1));
        while (auto payload = reader.nextFrame())
            payloads.push_back(*payload);
    }
    ASSERT_EQ(payloads.size(), 3u);
    EXPECT_EQ(payloads[0], "first");
    EXPECT_EQ(payloads[1], "");
    EXPECT_EQ(payloads[2], std::string(70000, 'z'));
}

TEST(FrameReading, ManyFramesInOneRead) {
    FrameReader reader;
    reader.feed(*frames::encodeFrame("a") + *frames::encodeFrame("bb") + header(5) + "cc");
    EXPECT_EQ(reader.nextFrame(), "a");
    EXPECT_EQ(reader.nextFrame(), "bb");
    EXPECT_EQ(reader.nextFrame(), std::nullopt);
    reader.feed("ccc");
    EXPECT_EQ(reader.nextFrame(), "ccccc");
}

TEST(FrameReading, FrameAtTheLimitIsAccepted) {
    FrameReader reader;
    reader.feed(header(std::uint32_t(frames::frameLimit)));
    EXPECT_EQ(reader.nextFrame(), std::nullopt);
    EXPECT_FALSE(reader.isBroken());
    reader.feed(std::string(frames::frameLimit, 'y'));
    auto payload = reader.nextFrame();
    ASSERT_TRUE(payload);
    EXPECT_EQ(payload->size(), frames::frameLimit);
}

TEST(FrameReading, OversizedHeaderBreaksTheStreamForGood) {
    for (std::uint32_t length : {std::uint32_t(frames::frameLimit + 1), 0xFFFFFFFFu}) {
        FrameReader reader;
        reader.feed(*frames::encodeFrame("ok") + header(length) + "tail");
        EXPECT_EQ(reader.nextFrame(), "ok");
        EXPECT_EQ(reader.nextFrame(), std::nullopt);
        EXPECT_TRUE(reader.isBroken()) << length;
        reader.feed(*frames::encodeFrame("after"));
        EXPECT_EQ(reader.nextFrame(), std::nullopt);
    }
}

TEST(FrameReading, IncompleteHeaderIsNoFrame) {
    FrameReader reader;
    reader.feed(std::string("\x01\x00\x00", 3));
    EXPECT_EQ(reader.nextFrame(), std::nullopt);
    EXPECT_FALSE(reader.isBroken());
    reader.feed(std::string("\x00", 1) + "!");
    EXPECT_EQ(reader.nextFrame(), "!");
}
