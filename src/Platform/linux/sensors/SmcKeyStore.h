#pragma once

#include "../../SmcTransport.h"

#include <array>
#include <cstdint>
#include <functional>

// What an SMC holds for one key. `dataSize` is what the key-information command
// reports; the read command returns at most 32 of `bytes`.
struct SmcKeyEntry {
    std::uint32_t dataType = 0;
    std::uint32_t dataSize = 0;
    std::array<std::uint8_t, 32> bytes{};
};

// Gives the entry for a key code, or null when the key does not exist. The entry must
// stay valid until the next lookup.
using SmcKeyLookup = std::function<const SmcKeyEntry*(std::uint32_t key)>;

// Answers one driver call from a key store, the way the SMC does: command 9 fills the
// output's data size and type (size 0 for a missing key), command 5 fills its bytes.
// Anything else, or blocks of the wrong size, is kIOReturnBadArgument.
std::int32_t answerSmcCall(const SmcKeyLookup& lookup, std::uint32_t selector, const void* input,
                           std::size_t inputSize, void* output, std::size_t* outputSize);
