// Arbitrary driver answers into the SMC reader: no crash, no byte kept past the value's
// size, and a value only from a well-formed pair of answers.
#include "Agent/SMCReader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// Answers the two calls of a read with the two blocks; a call fails when its bit is set.
struct Replay final : SmcTransport {
    SMCParamBlock blocks[2];
    unsigned failures = 0, calls = 0;
    std::int32_t call(std::uint32_t, const void*, std::size_t, void* output,
                      std::size_t*) override {
        if (calls == 2)
            std::abort(); // a key never takes more than two calls
        std::memcpy(output, &blocks[calls], sizeof(SMCParamBlock));
        return failures >> calls++ & 1 ? kIOReturnBadArgument : kIOReturnSuccess;
    }
};

} // namespace

// Input: failure bits, then the two answer blocks (the rest zero).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto reader = [&] {
        auto replay = std::make_unique<Replay>();
        replay->failures = size ? data[0] : 0;
        std::memcpy(replay->blocks, data + !!size, std::min(size - !!size, sizeof replay->blocks));
        return SMCReader::open(std::move(replay));
    };
    SMCKeyValue value;
    value.key = "TEST";
    std::int32_t code = reader()->readKey(value);
    auto kept = value.bytes.begin() + std::min<std::size_t>(value.dataSize, 32);
    if (code == kIOReturnSuccess &&
        (value.dataSize == 0 || value.dataSize > 32 ||
         std::any_of(kept, value.bytes.end(), [](auto b) { return b; })))
        std::abort();
    if (reader()->readValue("TEST") && (code != kIOReturnSuccess || value.dataType.empty()))
        std::abort();
    return 0;
}
