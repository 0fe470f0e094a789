#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

// The SMC driver's parameter block: one 80-byte layout for the input and the output of
// every call. Integers are in host byte order; fields named reserved or padding are sent
// as zero and ignored on return.
struct SMCParamBlock {
    std::uint32_t key = 0; // four-character code, first character most significant
    std::uint8_t reserved0[6] = {};
    std::uint8_t padding0[2] = {};
    std::uint8_t reserved1[16] = {};
    std::uint32_t dataSize = 0;
    std::uint32_t dataType = 0; // four-character code
    std::uint8_t reserved2 = 0;
    std::uint8_t padding1[3] = {};
    std::uint8_t reserved3 = 0;
    std::uint8_t reserved4 = 0;
    std::uint8_t command = 0;
    std::uint8_t padding2 = 0;
    std::uint32_t reserved5 = 0;
    std::uint8_t bytes[32] = {};
};

static_assert(sizeof(SMCParamBlock) == 80);
static_assert(offsetof(SMCParamBlock, key) == 0);
static_assert(offsetof(SMCParamBlock, reserved0) == 4);
static_assert(offsetof(SMCParamBlock, padding0) == 10);
static_assert(offsetof(SMCParamBlock, reserved1) == 12);
static_assert(offsetof(SMCParamBlock, dataSize) == 28);
static_assert(offsetof(SMCParamBlock, dataType) == 32);
static_assert(offsetof(SMCParamBlock, reserved2) == 36);
static_assert(offsetof(SMCParamBlock, padding1) == 37);
static_assert(offsetof(SMCParamBlock, reserved3) == 40);
static_assert(offsetof(SMCParamBlock, reserved4) == 41);
static_assert(offsetof(SMCParamBlock, command) == 42);
static_assert(offsetof(SMCParamBlock, padding2) == 43);
static_assert(offsetof(SMCParamBlock, reserved5) == 44);
static_assert(offsetof(SMCParamBlock, bytes) == 48);

// Packs a four-character key or type, first byte most significant.
constexpr std::uint32_t fourCharCode(std::string_view text) {
    std::uint32_t code = 0;
    for (char c : text)
        code = (code << 8) + static_cast<std::uint8_t>(c);
    return code;
}

// The driver's one method, and its two commands.
inline constexpr std::uint32_t smcSelector = 2;
inline constexpr std::uint8_t smcReadKeyInfo = 9;
inline constexpr std::uint8_t smcReadBytes = 5;

// The driver's return codes, with IOKit's values.
inline constexpr std::int32_t kIOReturnSuccess = 0;
inline constexpr std::int32_t kIOReturnBadArgument = std::int32_t(0xE00002C2u);

// One open connection to the SMC. Destroying it closes the connection.
class SmcTransport {
  public:
    virtual ~SmcTransport() = default;

    // Sends `inputSize` bytes through `selector` and fills up to *outputSize bytes of
    // `output`, storing the size used. Returns 0 or an error code.
    virtual std::int32_t call(std::uint32_t selector, const void* input, std::size_t inputSize,
                              void* output, std::size_t* outputSize) = 0;
};

// This machine's SMC, or nothing when it cannot be opened.
std::unique_ptr<SmcTransport> openSystemSmc();
