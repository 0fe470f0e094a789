// Arbitrary bytes into the frame reader, whole and in pieces: the same frames either
// way, none beyond the limit, and re-encoding them gives back the bytes they came from.
#include "Shared/ServiceFrames.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> framesOf(std::string_view bytes, std::size_t piece, bool& broken) {
    frames::FrameReader reader;
    std::vector<std::string> found;
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
        reader.feed(bytes.substr(at, piece));
        while (auto frame = reader.nextFrame())
            found.push_back(*frame);
    }
    broken = reader.isBroken();
    return found;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::size_t piece = std::size_t(data[0] % 16) + 1;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    bool brokenWhole = false, brokenInPieces = false;
    auto whole = framesOf(bytes, bytes.size() + 1, brokenWhole);
    auto inPieces = framesOf(bytes, piece, brokenInPieces);
    if (whole != inPieces || brokenWhole != brokenInPieces)
        std::abort();
    std::string again;
    for (const std::string& frame : whole) {
        auto encoded = frames::encodeFrame(frame);
        if (!encoded || frame.size() > frames::frameLimit)
            std::abort();
        again += *encoded;
    }
    if (bytes.substr(0, again.size()) != again)
        std::abort();
    return 0;
}
