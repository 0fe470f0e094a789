#pragma once

#include "../Platform/SmcTransport.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

// One key's reading as the reader builds it. `bytes` holds the value in its first
// `dataSize` bytes; the rest stay zero.
struct SMCKeyValue {
    std::string key;
    std::uint32_t dataSize = 0;
    std::string dataType; // empty when the type code is not ASCII
    std::array<std::uint8_t, 32> bytes{};
};

// The four bytes of a type code, most significant first; empty unless all are ASCII.
std::string typeName(std::uint32_t code);

// An open connection to the SMC. Releasing the reader closes it; there is no other way.
class SMCReader {
  public:
    // A reader on this machine's SMC, or nothing when it cannot be opened.
    static std::unique_ptr<SMCReader> open();
    // A reader on an opened connection; nothing when there is none.
    static std::unique_ptr<SMCReader> open(std::unique_ptr<SmcTransport> connection);

    SMCReader(const SMCReader&) = delete;
    SMCReader& operator=(const SMCReader&) = delete;

    // The key's value decoded by its type, or nothing.
    std::optional<double> readValue(std::string_view key);

    // Fills `value` for its key with two driver calls; 0 or the failing return code.
    std::int32_t readKey(SMCKeyValue& value);

  private:
    explicit SMCReader(std::unique_ptr<SmcTransport> connection);

    std::int32_t call(const SMCParamBlock& input, SMCParamBlock& output);

    std::unique_ptr<SmcTransport> connection;
};
