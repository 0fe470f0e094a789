#pragma once

#include "SensorSnapshot.h"

#include <optional>
#include <string>
#include <string_view>

// Both encoders fail as a whole (nothing) when any double is not finite.
std::optional<std::string> encodeCompact(const SensorSnapshot& snapshot);
std::optional<std::string> encodePrettySorted(const SensorSnapshot& snapshot);

// Nothing on malformed JSON, a missing or null required key, or a value of the wrong
// type anywhere; unknown keys are ignored. No range checks.
std::optional<SensorSnapshot> decodeSnapshot(std::string_view bytes);
