#include "Shared/ServiceFrames.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

using frames::frameLimit;
using frames::FrameReader;

TEST(FrameEncoding, FourByteLittleEndianLengthUpToTheLimit) {
    EXPECT_EQ(frames::encodeFrame(""), std::string(4, '\0'));
    EXPECT_EQ(frames::encodeFrame(std::string(0x0102, 'x'))->substr(0, 4),
              std::string("\x02\x01\x00\x00", 4));
    EXPECT_TRUE(frames::encodeFrame(std::string(frameLimit, 'x')));
    EXPECT_FALSE(frames::encodeFrame(std::string(frameLimit + 1, 'x')));
}

TEST(FrameReading, FramesComeWholeWhateverTheStreamsSplit) {
    std::string stream = *frames::encodeFrame("first") + *frames::encodeFrame("") +
                         *frames::encodeFrame(std::string(70000, 'z')) +
                         *frames::encodeFrame(std::string(frameLimit, 'y'));
    for (std::size_t piece : {std::size_t(1), std::size_t(3), stream.size()}) {
        FrameReader reader;
        std::vector<std::string> payloads;
        for (std::size_t at = 0; at < stream.size(); at += piece) {
            reader.feed(std::string_view(stream).substr(at, piece));
            while (auto payload = reader.nextFrame())
                payloads.push_back(*payload);
        }
        EXPECT_EQ(payloads, (std::vector<std::string>{"first", "", std::string(70000, 'z'),
                                                      std::string(frameLimit, 'y')}))
            << piece;
        EXPECT_FALSE(reader.isBroken());
    }
}

TEST(FrameReading, OversizedHeaderBreaksTheStreamForGood) {
    for (std::uint32_t length : {std::uint32_t(frameLimit + 1), 0xFFFFFFFFu}) {
        FrameReader reader;
        reader.feed(*frames::encodeFrame("ok") + frameHeader(length) + "tail");
        EXPECT_EQ(reader.nextFrame(), "ok");
        EXPECT_EQ(reader.nextFrame(), std::nullopt);
        EXPECT_TRUE(reader.isBroken()) << length;
        reader.feed(*frames::encodeFrame("after"));
        EXPECT_EQ(reader.nextFrame(), std::nullopt);
    }
}
