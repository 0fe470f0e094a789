// Arbitrary driver answers into the SMC reader: no crash, no byte read or kept past the
// 32 value bytes, and a value only from a well-formed pair of answers.
#include "Agent/SMCReader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// Answers the reader's two calls with the two blocks; a call fails when its bit is set.
class ReplayTransport final : public SmcTransport {
  public:
    ReplayTransport(const SMCParamBlock* blocks, unsigned failures)
        : blocks(blocks), failures(failures) {}
    std::int32_t call(std::uint32_t, const void*, std::size_t, void* output,
                      std::size_t*) override {
        if (calls == 2)
            std::abort(); // a key never takes more than two calls
        std::memcpy(output, &blocks[calls], sizeof(SMCParamBlock));
        return failures >> calls++ & 1 ? kIOReturnBadArgument : kIOReturnSuccess;
    }

  private:
    const SMCParamBlock* blocks;
    unsigned failures;
    int calls = 0;
};

} // namespace

// Input: failure bits, key length, the key, then the two answer blocks (the rest zero).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    std::size_t keyLength = std::min<std::size_t>(data[1] % 8, size - 2);
    std::string key(reinterpret_cast<const char*>(data + 2), keyLength);
    SMCParamBlock blocks[2];
    std::memcpy(blocks, data + 2 + keyLength, std::min(size - 2 - keyLength, sizeof blocks));

    SMCKeyValue value;
    value.key = key;
    auto reader = [&] {
        return SMCReader::open(std::make_unique<ReplayTransport>(blocks, data[0]));
    };
    std::int32_t code = reader()->readKey(value);
    std::uint32_t kept = value.dataSize;
    if (code == kIOReturnSuccess &&
        (kept == 0 || kept > 32 || kept != blocks[0].dataSize ||
         !std::equal(value.bytes.begin(), value.bytes.begin() + kept, blocks[1].bytes) ||
         std::any_of(value.bytes.begin() + kept, value.bytes.end(),
                     [](std::uint8_t byte) { return byte != 0; })))
        std::abort();
    if (reader()->readValue(key) &&
        (code != kIOReturnSuccess || typeName(blocks[0].dataType).empty()))
        std::abort();
    return 0;
}
