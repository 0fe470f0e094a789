#include "SMCReader.h"

#include <algorithm>
#include <bit>

namespace {

// The fixed-point types: a big-endian unsigned 16-bit quantity over a power of two.
// Each name gives the integer and fraction bit counts in hex.
struct FixedPointType {
    std::string_view name;
    double divisor;
};
constexpr FixedPointType fixedPointTypes[] = {
    {"sp1e", 16384}, {"sp3c", 4096}, {"sp4b", 2048}, {"sp5a", 1024}, {"sp69", 512}, {"sp78", 256},
    {"sp87", 128},   {"sp96", 64},   {"spa5", 32},   {"spb4", 16},   {"spf0", 1},
};

// Fan current speeds and the fan count may read as zero; any other all-zero value
// means the key holds nothing.
bool acceptsZero(std::string_view key) {
    if (key == "FNum")
        return true;
    return key.size() == 4 && key[0] == 'F' && key[1] >= '0' && key[1] <= '9' &&
           key.substr(2) == "Ac";
}

std::optional<double> decode(const SMCKeyValue& value) {
    const auto& b = value.bytes;
    const std::string& type = value.dataType;
    double big16 = b[0] * 256.0 + b[1];
    if (type == "ui8 ")
        return b[0];
    if (type == "ui16")
        return big16;
    if (type == "ui32")
        return b[0] * 16777216.0 + b[1] * 65536.0 + b[2] * 256.0 + b[3];
    if (type == "fpe2")
        return b[0] * 64.0 + (b[1] >> 2);
    if (type == "flt ") {
        std::uint32_t bits = std::uint32_t(b[0]) | std::uint32_t(b[1]) << 8 |
                             std::uint32_t(b[2]) << 16 | std::uint32_t(b[3]) << 24;
        return double(std::bit_cast<float>(bits));
    }
    for (const FixedPointType& fixed : fixedPointTypes)
        if (type == fixed.name)
            return big16 / fixed.divisor;
    return std::nullopt;
}

} // namespace

std::string typeName(std::uint32_t code) {
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8) {
        auto byte = static_cast<unsigned char>(code >> shift);
        if (byte > 0x7F)
            return {};
        text.push_back(static_cast<char>(byte));
    }
    return text;
}

SMCReader::SMCReader(std::unique_ptr<SmcTransport> transport) : connection(std::move(transport)) {}

std::unique_ptr<SMCReader> SMCReader::open() {
    return open(openSystemSmc());
}

std::unique_ptr<SMCReader> SMCReader::open(std::unique_ptr<SmcTransport> connection) {
    if (!connection)
        return nullptr;
    return std::unique_ptr<SMCReader>(new SMCReader(std::move(connection)));
}

std::int32_t SMCReader::call(const SMCParamBlock& input, SMCParamBlock& output) {
    std::size_t outputSize = sizeof output;
    return connection->call(smcSelector, &input, sizeof input, &output, &outputSize);
}

std::int32_t SMCReader::readKey(SMCKeyValue& value) {
    // A key of another length would pack into some other key's code.
    if (value.key.size() != 4)
        return kIOReturnBadArgument;
    SMCParamBlock input;
    SMCParamBlock output;
    input.key = fourCharCode(value.key);
    input.command = smcReadKeyInfo;
    if (std::int32_t result = call(input, output); result != kIOReturnSuccess)
        return result;

    std::uint32_t size = output.dataSize;
    if (size == 0 || size > value.bytes.size())
        return kIOReturnBadArgument;
    value.dataSize = size;
    value.dataType = typeName(output.dataType);

    input.dataSize = size;
    input.command = smcReadBytes;
    if (std::int32_t result = call(input, output); result != kIOReturnSuccess)
        return result;
    std::copy_n(output.bytes, size, value.bytes.begin());
    return kIOReturnSuccess;
}

std::optional<double> SMCReader::readValue(std::string_view key) {
    if (key.size() != 4)
        return std::nullopt;
    SMCKeyValue value;
    value.key = std::string(key);
    if (readKey(value) != kIOReturnSuccess || value.dataSize == 0)
        return std::nullopt;
    bool allZero = std::all_of(value.bytes.begin(), value.bytes.end(),
                               [](std::uint8_t byte) { return byte == 0; });
    if (allZero && !acceptsZero(key))
        return std::nullopt;
    return decode(value);
}
