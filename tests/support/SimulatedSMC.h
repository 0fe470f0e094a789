#pragma once

#include "Agent/SMCReader.h"
#include "Platform/SmcKeyStore.h"

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// An SMC made of a key table behind the driver's block protocol, with a log of what was
// done to it. Connections opened from it refer to it and must not outlive it.
class SimulatedSMC {
  public:
    // A key whose data size is the number of bytes (at most 32).
    void set(std::string_view key, std::string_view type, const std::vector<std::uint8_t>& bytes);
    // A key holding a little-endian single-precision number ("flt ").
    void setFloat(std::string_view key, float value);

    // "open", "close" and "<command> <key>" per call, e.g. "9 TC0P"; tests may add marks
    // of their own to see the order of other events.
    std::vector<std::string> log;
    bool recording = true; // off for long runs, which would otherwise grow the log

    std::unique_ptr<SMCReader> openReader();
    // The keys asked for with command 9, in order.
    std::vector<std::string> keysAsked() const;

  private:
    friend class SimulatedConnection;
    std::map<std::uint32_t, SmcKeyEntry> keys;
};
