// Arbitrary driver answers and types into the SMC reader: no crash, no byte read or kept
// past the 32 value bytes, and a value only from a well-formed pair of answers.
#include "Agent/SMCReader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

constexpr const char* knownKeys[] = {"FNum", "F0Ac", "F0Mn", "TC0P"};
constexpr const char* knownTypes[] = {"ui8 ", "ui16", "ui32", "sp1e", "sp3c", "sp4b",
                                      "sp5a", "sp69", "sp78", "sp87", "sp96", "spa5",
                                      "spb4", "spf0", "fpe2", "flt "};

// One call's answer, as the input spells it: a return code byte (0 is success) and up to
// 80 bytes of output block, the rest zero.
struct Answer {
    std::int32_t code = kIOReturnSuccess;
    SMCParamBlock block;
};

Answer takeAnswer(const std::uint8_t*& data, std::size_t& size) {
    Answer answer;
    if (size > 0) {
        answer.code = data[0] == 0 ? kIOReturnSuccess : std::int32_t(0xE0000000u | data[0]);
        ++data;
        --size;
    }
    std::size_t taken = std::min(size, sizeof answer.block);
    std::memcpy(&answer.block, data, taken);
    data += taken;
    size -= taken;
    return answer;
}

class ReplayTransport final : public SmcTransport {
  public:
    ReplayTransport(const Answer& first, const Answer& second) : answers{first, second} {}

    std::int32_t call(std::uint32_t, const void*, std::size_t, void* output,
                      std::size_t* outputSize) override {
        if (calls == 2)
            std::abort(); // a key never takes more than two calls
        const Answer& answer = answers[calls++];
        std::memcpy(output, &answer.block, sizeof answer.block);
        *outputSize = sizeof answer.block;
        return answer.code;
    }

  private:
    Answer answers[2];
    int calls = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    std::uint8_t keyChoice = data[0];
    std::uint8_t typeChoice = data[1];
    data += 2;
    size -= 2;

    std::string key;
    if (keyChoice < std::size(knownKeys)) {
        key = knownKeys[keyChoice];
    } else {
        std::size_t length = std::min<std::size_t>(keyChoice % 8, size);
        key.assign(reinterpret_cast<const char*>(data), length);
        data += length;
        size -= length;
    }
    Answer first = takeAnswer(data, size);
    Answer second = takeAnswer(data, size);
    if (typeChoice < std::size(knownTypes))
        first.block.dataType = fourCharCode(knownTypes[typeChoice]);

    SMCKeyValue value;
    value.key = key;
    std::int32_t code =
        SMCReader::open(std::make_unique<ReplayTransport>(first, second))->readKey(value);
    if (code == kIOReturnSuccess) {
        std::uint32_t kept = value.dataSize;
        if (kept == 0 || kept > 32 || kept != first.block.dataSize)
            std::abort();
        if (!std::equal(value.bytes.begin(), value.bytes.begin() + kept, second.block.bytes))
            std::abort();
        if (std::any_of(value.bytes.begin() + kept, value.bytes.end(),
                        [](std::uint8_t byte) { return byte != 0; }))
            std::abort();
    }

    auto reading =
        SMCReader::open(std::make_unique<ReplayTransport>(first, second))->readValue(key);
    if (reading && (code != kIOReturnSuccess || typeName(first.block.dataType).empty()))
        std::abort();
    return 0;
}
