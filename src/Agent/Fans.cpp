#include "Fans.h"

#include <cmath>
#include <string>

namespace {

std::optional<double> readSpeed(SMCReader& reader, int index, const char* suffix) {
    std::string key = "F";
    key += std::to_string(index);
    key += suffix;
    std::optional<double> rpm = reader.readValue(key);
    if (!rpm || !std::isfinite(*rpm) || *rpm < 0.0 || *rpm > 100000.0)
        return std::nullopt;
    return rpm;
}

} // namespace

std::optional<int> readFanCount(SMCReader& reader) {
    std::optional<double> count = reader.readValue("FNum");
    if (!count || !std::isfinite(*count) || *count < 0.0 || *count > 8.0)
        return std::nullopt;
    return static_cast<int>(*count);
}

std::vector<FanReading> readFans(std::optional<int> count, SMCReader& reader) {
    std::vector<FanReading> fans;
    if (!count)
        return fans;
    for (int index = 0; index < *count; ++index)
        if (std::optional<FanReading> fan = readFan(index, reader))
            fans.push_back(*fan);
    return fans;
}

std::optional<FanReading> readFan(int index, SMCReader& reader) {
    std::optional<double> current = readSpeed(reader, index, "Ac");
    if (!current)
        return std::nullopt;
    std::optional<double> minimum = readSpeed(reader, index, "Mn");
    std::optional<double> maximum = readSpeed(reader, index, "Mx");
    return FanReading{index, *current, minimum, maximum};
}
