#pragma once

#include "Agent/SMCReader.h"
#include "Platform/SmcKeyStore.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// One driver call as the simulated SMC received it.
struct SmcCall {
    std::uint32_t selector = 0;
    std::size_t inputSize = 0;
    std::size_t outputSize = 0; // as offered by the caller
    SMCParamBlock input;
};

// An SMC made of a key table, with faults to inject and a record of what was done to it.
// Connections opened from it refer to it and must not outlive it.
class SimulatedSMC {
  public:
    // A key of a four-character type whose data size is the number of bytes (0 to 32).
    void set(std::string_view key, std::string_view type, const std::vector<std::uint8_t>& bytes);
    // A key with any type code and any data size (above 32 too); at most 32 bytes.
    void setRaw(std::string_view key, std::uint32_t type, std::uint32_t dataSize,
                const std::vector<std::uint8_t>& bytes);
    // A key holding a little-endian single-precision number ("flt ").
    void setFloat(std::string_view key, float value);

    // Every call for the key with that command fails with the code.
    void failCalls(std::string_view key, std::uint8_t command,
                   std::int32_t code = kIOReturnBadArgument);
    bool refuseOpen = false;

    // "open", "close" and one "<command> <key>" per call, e.g. "9 TC0P"; tests may add
    // marks of their own to see the order of other events.
    std::vector<std::string> log;
    std::vector<SmcCall> calls;
    bool recording = true; // off for long runs, which would otherwise grow the record

    std::unique_ptr<SmcTransport> open();
    std::unique_ptr<SMCReader> openReader() { return SMCReader::open(open()); }

    // The keys asked for with command 9, in order.
    std::vector<std::string> keysAsked() const;

  private:
    friend class SimulatedConnection;
    std::int32_t answer(std::uint32_t selector, const void* input, std::size_t inputSize,
                        void* output, std::size_t* outputSize);

    std::map<std::uint32_t, SmcKeyEntry> keys;
    std::map<std::pair<std::uint32_t, std::uint8_t>, std::int32_t> failures;
};

// The four characters of a key code.
std::string keyText(std::uint32_t code);
