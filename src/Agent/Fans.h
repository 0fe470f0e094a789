#pragma once

#include "../Shared/SensorSnapshot.h"
#include "SMCReader.h"

#include <optional>
#include <vector>

// The number of fans from "FNum": 0 to 8, truncated toward zero; nothing otherwise.
std::optional<int> readFanCount(SMCReader& reader);

// The readings of fans 0 to count - 1 that have a current speed, each under its own
// index; empty when the count is absent.
std::vector<FanReading> readFans(std::optional<int> count, SMCReader& reader);

// One fan's speeds; nothing when its current speed is missing or outside 0 to 100,000
// rpm. A minimum or maximum outside that range is left absent.
std::optional<FanReading> readFan(int index, SMCReader& reader);
