#include "Shared/ServiceFrames.h"

#include <gtest/gtest.h>

using frames::encodeFrame;
using frames::frameLimit;
using namespace std::string_literals;

TEST(ServiceFrames, LittleEndianLengthUpToTheLimit) {
    EXPECT_EQ(encodeFrame(std::string(0x010203, 'x'))->substr(0, 4), "\x03\x02\x01\0"s);
    EXPECT_TRUE(encodeFrame(std::string(frameLimit, 'x')));
    EXPECT_FALSE(encodeFrame(std::string(frameLimit + 1, 'x')));
}

TEST(ServiceFrames, AHeaderBeyondTheLimitBreaksTheStreamForGood) {
    frames::FrameReader reader;
    std::string tooLong = "\x01\x00\x10\x00"s; // frameLimit + 1
    reader.feed(*encodeFrame(std::string(frameLimit, 'y')) + tooLong + *encodeFrame("after"));
    EXPECT_EQ(reader.nextFrame(), std::string(frameLimit, 'y'));
    EXPECT_EQ(reader.nextFrame(), std::nullopt);
    EXPECT_TRUE(reader.isBroken());
}
