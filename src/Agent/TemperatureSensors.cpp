#include "TemperatureSensors.h"

#include "../Shared/SensorLimits.h"

#include <array>
#include <vector>

namespace {

struct FamilyKeys {
    std::string_view chip;
    std::vector<std::string> cpu;
    std::vector<std::string> gpu;
};

const std::array<FamilyKeys, 5>& appleFamilies() {
    static const std::array<FamilyKeys, 5> families{{
        {"M1",
         {"Tp09", "Tp0T", "Tp01", "Tp05", "Tp0D", "Tp0H", "Tp0L", "Tp0P", "Tp0X", "Tp0b"},
         {"Tg05", "Tg0D", "Tg0L", "Tg0T"}},
        {"M2",
         {"Tp1h", "Tp1t", "Tp1p", "Tp1l", "Tp01", "Tp05", "Tp09", "Tp0D", "Tp0X", "Tp0b", "Tp0f",
          "Tp0j"},
         {"Tg0f", "Tg0j"}},
        {"M3",
         {"Te05", "Te0L", "Te0P", "Te0S", "Tf04", "Tf09", "Tf0A", "Tf0B", "Tf0D", "Tf0E", "Tf44",
          "Tf49", "Tf4A", "Tf4B", "Tf4D", "Tf4E"},
         {"Tf14", "Tf18", "Tf19", "Tf1A", "Tf24", "Tf28", "Tf29", "Tf2A"}},
        {"M4",
         {"Te05", "Te0S", "Te09", "Te0H", "Tp01", "Tp05", "Tp09", "Tp0D", "Tp0V", "Tp0Y", "Tp0b",
          "Tp0e"},
         {"Tg0G", "Tg0H", "Tg1U", "Tg1k", "Tg0K", "Tg0L", "Tg0d", "Tg0e", "Tg0j", "Tg0k"}},
        {"M5",
         {"Tp00", "Tp04", "Tp08", "Tp0C", "Tp0G", "Tp0K", "Tp0O", "Tp0R", "Tp0U", "Tp0X", "Tp0a",
          "Tp0d", "Tp0g", "Tp0j", "Tp0m", "Tp0p", "Tp0u", "Tp0y"},
         {"Tg0U", "Tg0X", "Tg0d", "Tg0g", "Tg0j", "Tg1Y", "Tg1c", "Tg1g"}},
    }};
    return families;
}

// Built on first use, then kept for the life of the process.
const std::vector<std::string>& intelCpuKeys() {
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> list;
        for (char digit = '0'; digit <= '9'; ++digit) {
            list.push_back(std::string("TC") + digit + 'c');
            list.push_back(std::string("TC") + digit + 'C');
        }
        for (const char* key : {"TC0D", "TC0E", "TC0F", "TC0H", "TC0P", "TCAD"})
            list.emplace_back(key);
        return list;
    }();
    return keys;
}

const std::vector<std::string>& intelGpuKeys() {
    static const std::vector<std::string> keys{"TCGC", "TG0D", "TGDD", "TG0H", "TG0P"};
    return keys;
}

constexpr std::string_view applePrefix = "Apple ";

// The family's list when one matches; nothing for other Apple names; Intel otherwise.
TemperatureKeys chooseKeys(const std::optional<std::string>& processorName,
                           std::vector<std::string> FamilyKeys::*familyList,
                           const std::vector<std::string>& intel) {
    if (!processorName)
        return {};
    for (const FamilyKeys& family : appleFamilies())
        if (matchesChip(*processorName, family.chip))
            return family.*familyList;
    if (processorName->starts_with(applePrefix))
        return {};
    return intel;
}

} // namespace

bool matchesChip(std::string_view processorName, std::string_view chip) {
    if (!processorName.starts_with(applePrefix))
        return false;
    std::string_view rest = processorName.substr(applePrefix.size());
    if (!rest.starts_with(chip))
        return false;
    rest.remove_prefix(chip.size());
    return rest.empty() || rest.front() == ' ';
}

TemperatureKeys cpuTemperatureKeys(const std::optional<std::string>& processorName) {
    return chooseKeys(processorName, &FamilyKeys::cpu, intelCpuKeys());
}

TemperatureKeys gpuTemperatureKeys(const std::optional<std::string>& processorName) {
    return chooseKeys(processorName, &FamilyKeys::gpu, intelGpuKeys());
}

std::optional<double> averageTemperature(TemperatureKeys keys, SMCReader& reader) {
    double sum = 0;
    int count = 0;
    for (const std::string& key : keys) {
        std::optional<double> reading = reader.readValue(key);
        if (!reading || !isPlausibleCelsius(*reading))
            continue;
        sum += *reading;
        ++count;
    }
    if (count == 0)
        return std::nullopt;
    return sum / count;
}
