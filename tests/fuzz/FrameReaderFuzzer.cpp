// Arbitrary bytes into the frame reader, whole and in pieces: the same frames either
// way, none beyond the limit (value() throws), and re-encoding them gives back the bytes.
#include "Shared/ServiceFrames.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    auto reframed = [bytes](std::size_t piece) {
        frames::FrameReader reader;
        std::string again;
        for (std::size_t at = 0; at < bytes.size(); at += piece) {
            reader.feed(bytes.substr(at, piece));
            while (auto frame = reader.nextFrame())
                again += frames::encodeFrame(*frame).value();
        }
        return std::pair(again, reader.isBroken());
    };
    auto whole = reframed(bytes.size() + 1);
    if (reframed(std::size_t(data[0] % 16) + 1) != whole ||
        bytes.substr(0, whole.first.size()) != whole.first)
        std::abort();
    return 0;
}
