#pragma once

#include <cstdint>

// The ranges a reading must lie in to be believed, at the agent and at the client alike.
inline constexpr double coolestPlausibleCelsius = 10.0;
inline constexpr double hottestPlausibleCelsius = 120.0;
inline constexpr double fastestPlausibleRPM = 100000.0;
inline constexpr std::int64_t mostFans = 8;

// NaN fails both comparisons and the infinities lie outside every range, so only finite
// values pass.
constexpr bool isPlausibleCelsius(double value) {
    return value >= coolestPlausibleCelsius && value <= hottestPlausibleCelsius;
}

constexpr bool isPlausibleRPM(double value) {
    return value >= 0.0 && value <= fastestPlausibleRPM;
}
