#pragma once

#include "Agent/SMCReader.h"
#include "Platform/linux/sensors/SmcKeyStore.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

// An SMC made of a key table behind the driver's block protocol, with a log of what was
// done to it. Readers opened from it refer to it and must not outlive it.
struct SimulatedSMC {
    // A key whose data size is the number of bytes (the first 32 are kept).
    void set(std::string_view key, std::string_view type, const std::vector<std::uint8_t>& bytes);
    void setFloat(std::string_view key, float value); // type "flt "
    std::unique_ptr<SMCReader> openReader();

    std::map<std::uint32_t, SmcKeyEntry> keys;
    // "open", "close" and "<command> <key>" per call; tests may add marks of their own.
    std::vector<std::string> log;
    bool recording = true; // off for long runs, which would otherwise grow the log
};
