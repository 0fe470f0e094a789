#include "ReadingText.h"

#include <cmath>

std::string roundedText(double value) {
    // Plausible readings are bounded, so the conversion cannot overflow.
    return std::to_string(std::llround(value));
}

std::string percentText(double percent) {
    return roundedText(percent) + "%";
}

std::string temperatureText(double celsius) {
    return roundedText(celsius) + "\u00B0C";
}

std::optional<std::string> fanSpeedText(const std::vector<FanReading>& fans) {
    if (fans.empty())
        return std::nullopt;
    std::string text;
    for (const FanReading& fan : fans) {
        if (!text.empty())
            text += " \u00B7 ";
        text += roundedText(fan.currentRPM) + " RPM";
    }
    return text;
}

std::array<ReadingRow, 4> readingRows(const SensorSnapshot& snapshot) {
    auto temperature = [](const std::optional<double>& celsius) {
        return celsius ? std::optional(temperatureText(*celsius)) : std::nullopt;
    };
    return {{
        {"GPU activity", snapshot.gpu ? std::optional(percentText(snapshot.gpu->utilizationPercent))
                                      : std::nullopt},
        {"CPU temperature", temperature(snapshot.cpuTemperatureCelsius)},
        {"GPU temperature", temperature(snapshot.gpuTemperatureCelsius)},
        {"Fan speed", fanSpeedText(snapshot.fans)},
    }};
}
