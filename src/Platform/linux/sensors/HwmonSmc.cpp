#include "HwmonSmc.h"

#include "../../../Shared/SensorLimits.h"
#include "../system/SmallFile.h"
#include "HwmonRoles.h"
#include "SmcKeyStore.h"

#include <algorithm>
#include <bit>
#include <map>
#include <numeric>
#include <optional>
#include <string>

namespace fs = std::filesystem;

namespace {

// "temp", 3 and "_input" give "temp3_input"; "F", 0 and "Ac" the key "F0Ac".
std::string attribute(std::string_view kind, unsigned number, std::string_view suffix) {
    std::string text(kind);
    text += std::to_string(number);
    text += suffix;
    return text;
}

// An applesmc label is the key itself.
[[nodiscard]] bool isSmcKey(const std::string& label) {
    return label.size() == 4 &&
           std::all_of(label.begin(), label.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

std::optional<std::int64_t> plausibleSpeed(const Result<std::int64_t>& rpm) {
    return rpm && isPlausibleRPM(double(*rpm)) ? std::optional(*rpm) : std::nullopt;
}

[[nodiscard]] bool isPlausibleMillidegrees(std::int64_t value) {
    return isPlausibleCelsius(double(value) / 1000.0);
}

void keepHottest(std::optional<std::int64_t>& hottest, std::optional<std::int64_t> value) {
    if (value && (!hottest || *value > *hottest))
        hottest = value;
}

// The chip's reading of its part: the hottest plausible input among those of the best
// rank that gives one.
std::optional<std::int64_t> partReading(const HwmonChip& chip) {
    std::vector<std::pair<int, unsigned>> ranked;
    for (unsigned n : chip.temperatures) {
        auto label = readSysfsAttribute(chip.dir / attribute("temp", n, "_label"));
        if (auto rank = temperatureRank(chip.name, n, asOptional(std::move(label))))
            ranked.emplace_back(*rank, n);
    }
    std::sort(ranked.begin(), ranked.end());
    std::optional<std::int64_t> hottest;
    for (std::size_t i = 0; i < ranked.size(); ++i) {
        if (hottest && ranked[i].first != ranked[i - 1].first)
            break;
        auto value = readSysfsInteger(chip.dir / attribute("temp", ranked[i].second, "_input"));
        if (value && isPlausibleMillidegrees(*value))
            keepHottest(hottest, *value);
    }
    return hottest;
}

// A fan whose speed reads, with the hwmon attributes of its limits where it has them.
struct Fan {
    std::int64_t rpm;
    std::optional<fs::path> hwmonBase; // chip folder / "fanN"
};

std::optional<std::int64_t> limit(const Fan& fan, std::string_view suffix) {
    if (!fan.hwmonBase)
        return std::nullopt;
    return plausibleSpeed(readSysfsInteger(fan.hwmonBase->string() + std::string(suffix)));
}

// Up to eight fans, in the order found. Where there are more, an empty header, which
// reads 0 rpm, never takes the place of a fan that turns.
std::vector<Fan> chooseFans(std::vector<Fan> fans) {
    const auto most = std::size_t(mostFans);
    if (fans.size() <= most)
        return fans;
    std::vector<std::size_t> order(fans.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_partition(order.begin(), order.end(),
                          [&](std::size_t i) { return fans[i].rpm > 0; });
    order.resize(most);
    std::sort(order.begin(), order.end());
    std::vector<Fan> chosen;
    chosen.reserve(order.size());
    for (std::size_t i : order)
        chosen.push_back(fans[i]);
    return chosen;
}

SmcKeyEntry bigEndian16(std::string_view type, std::uint32_t value) {
    SmcKeyEntry entry{fourCharCode(type), 2, {}};
    entry.bytes[0] = std::uint8_t(value >> 8);
    entry.bytes[1] = std::uint8_t(value);
    return entry;
}

SmcKeyEntry littleEndianFloat(double value) {
    auto bits = std::bit_cast<std::uint32_t>(static_cast<float>(value));
    SmcKeyEntry entry{fourCharCode("flt "), 4, {}};
    for (int i = 0; i < 4; ++i)
        entry.bytes[std::size_t(i)] = std::uint8_t(bits >> (8 * i));
    return entry;
}

// Exact in "sp78" when the value is a whole number of 1/256 degrees from 0 up to 255.996;
// otherwise the nearest single-precision number.
SmcKeyEntry temperatureEntry(std::int64_t millidegrees) {
    if (millidegrees >= 0 && millidegrees < 256000 && millidegrees * 256 % 1000 == 0)
        return bigEndian16("sp78", std::uint32_t(millidegrees * 256 / 1000));
    return littleEndianFloat(double(millidegrees) / 1000.0);
}

// Exact in "fpe2" for whole speeds below 16384 rpm; otherwise single precision.
SmcKeyEntry speedEntry(std::int64_t rpm) {
    if (rpm >= 0 && rpm < 16384)
        return bigEndian16("fpe2", std::uint32_t(rpm) << 2);
    return littleEndianFloat(double(rpm));
}

class StandInSmc final : public SmcTransport {
  public:
    StandInSmc(std::map<std::uint32_t, fs::path> applesmcKeys,
               std::map<std::uint32_t, SmcKeyEntry> filled)
        : smcKeys(std::move(applesmcKeys)), standIns(std::move(filled)) {}

    std::int32_t call(std::uint32_t selector, const void* input, std::size_t inputSize,
                      void* output, std::size_t* outputSize) override {
        return answerSmcCall([this](std::uint32_t key) { return entry(key); }, selector, input,
                             inputSize, output, outputSize);
    }

  private:
    // Read once, so that a key's two calls agree on its type and bytes.
    const SmcKeyEntry* entry(std::uint32_t key) {
        if (auto standIn = standIns.find(key); standIn != standIns.end())
            return &standIn->second;
        auto source = smcKeys.find(key);
        if (source == smcKeys.end())
            return nullptr;
        auto [reading, isNew] = readings.try_emplace(key);
        if (isNew)
            if (auto value = readSysfsInteger(source->second))
                reading->second = temperatureEntry(*value);
        return reading->second ? &*reading->second : nullptr;
    }

    std::map<std::uint32_t, fs::path> smcKeys;
    std::map<std::uint32_t, SmcKeyEntry> standIns;
    std::map<std::uint32_t, std::optional<SmcKeyEntry>> readings;
};

} // namespace

std::unique_ptr<SmcTransport> openStandInSmc(const std::vector<HwmonChip>& chips,
                                             const std::vector<NvmlDeviceReadings>& nvidia) {
    if (chips.empty() && nvidia.empty())
        return nullptr;
    std::map<std::uint32_t, fs::path> smcKeys;
    std::optional<std::int64_t> processor, graphics;
    std::vector<Fan> fans;
    for (const HwmonChip& chip : chips) {
        if (chip.name == "applesmc") {
            for (unsigned n : chip.temperatures) {
                auto label = readSysfsAttribute(chip.dir / attribute("temp", n, "_label"));
                if (label && isSmcKey(*label))
                    smcKeys.emplace(fourCharCode(*label),
                                    chip.dir / attribute("temp", n, "_input"));
            }
        } else if (auto part = sensedPart(chip.name)) {
            keepHottest(*part == SensedPart::processor ? processor : graphics, partReading(chip));
        }
        for (unsigned n : chip.fans)
            if (auto rpm =
                    plausibleSpeed(readSysfsInteger(chip.dir / attribute("fan", n, "_input"))))
                fans.push_back({*rpm, chip.dir / attribute("fan", n, "")});
    }
    for (const NvmlDeviceReadings& device : nvidia) {
        if (device.temperatureCelsius && isPlausibleCelsius(*device.temperatureCelsius))
            keepHottest(graphics, std::int64_t(*device.temperatureCelsius) * 1000);
        for (unsigned rpm : device.fanRPM)
            if (isPlausibleRPM(rpm))
                fans.push_back({std::int64_t(rpm), std::nullopt});
    }

    std::map<std::uint32_t, SmcKeyEntry> standIns;
    for (auto [key, reading] : {std::pair{"TC0P", processor}, {"TG0D", graphics}})
        if (reading && !smcKeys.contains(fourCharCode(key)))
            standIns.emplace(fourCharCode(key), temperatureEntry(*reading));
    fans = chooseFans(std::move(fans));
    standIns.emplace(fourCharCode("FNum"),
                     SmcKeyEntry{fourCharCode("ui8 "), 1, {std::uint8_t(fans.size())}});
    for (std::size_t i = 0; i < fans.size(); ++i) {
        for (auto [suffix, rpm] : {std::pair{"Ac", std::optional(fans[i].rpm)},
                                   {"Mn", limit(fans[i], "_min")},
                                   {"Mx", limit(fans[i], "_max")}})
            if (rpm)
                standIns.emplace(fourCharCode(attribute("F", unsigned(i), suffix)),
                                 speedEntry(*rpm));
    }
    return std::make_unique<StandInSmc>(std::move(smcKeys), std::move(standIns));
}

std::unique_ptr<SmcTransport> openSystemSmc() {
    return openStandInSmc(
        findHwmonChips("/sys/class/hwmon"),
        readSystemNvmlDevices(NvmlQuery::sensors).value_or(std::vector<NvmlDeviceReadings>()));
}
