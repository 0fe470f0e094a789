#include "Fans.h"

#include "../Shared/SensorLimits.h"

#include <string>

namespace {

std::optional<double> readSpeed(SMCReader& reader, int index, const char* suffix) {
    std::string key = "F";
    key += std::to_string(index);
    key += suffix;
    std::optional<double> rpm = reader.readValue(key);
    if (!rpm || !isPlausibleRPM(*rpm))
        return std::nullopt;
    return rpm;
}

} // namespace

std::optional<int> readFanCount(SMCReader& reader) {
    std::optional<double> count = reader.readValue("FNum");
    if (!count || !(*count >= 0.0 && *count <= double(mostFans)))
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
