#pragma once

#include "../Shared/SensorSnapshot.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

// A reading as the window shows it: halves away from zero, no grouping separators.
std::string roundedText(double value);
std::string percentText(double percent);
std::string temperatureText(double celsius);
// Each fan's current speed, in list order; nothing for no fans.
std::optional<std::string> fanSpeedText(const std::vector<FanReading>& fans);

// One row of the readings grid; no value means the reading is not available.
struct ReadingRow {
    std::string label;
    std::optional<std::string> value;

    bool operator==(const ReadingRow&) const = default;
};

// The grid's four rows, in the order shown.
std::array<ReadingRow, 4> readingRows(const SensorSnapshot& snapshot);
