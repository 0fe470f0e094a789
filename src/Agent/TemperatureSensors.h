#pragma once

#include "SMCReader.h"

#include <optional>
#include <span>
#include <string>
#include <string_view>

using TemperatureKeys = std::span<const std::string>;

// Whether the processor is of the chip family `chip` ("M1" to "M5"): exactly
// "Apple <chip>", or "Apple <chip> " followed by anything.
bool matchesChip(std::string_view processorName, std::string_view chip);

// The SMC keys to average for the processor: its Apple family's list, nothing for
// another Apple processor or an absent name, the Intel list for any other name.
TemperatureKeys cpuTemperatureKeys(const std::optional<std::string>& processorName);
TemperatureKeys gpuTemperatureKeys(const std::optional<std::string>& processorName);

// The mean of the keys' readings within 10 to 120 degrees inclusive, summed in list
// order; nothing when no key gives such a reading.
std::optional<double> averageTemperature(TemperatureKeys keys, SMCReader& reader);
