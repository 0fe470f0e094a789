#include "HwmonSmc.h"

#include "../SmcKeyStore.h"
#include "HwmonTree.h"
#include "SmallFile.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t maxFans = 8;

// A whole decimal integer, as hwmon writes its readings.
std::optional<std::int64_t> parseReading(const std::string& text) {
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end)
        return std::nullopt;
    return value;
}

// "temp" and 3 give "temp3".
std::string numbered(std::string_view prefix, std::size_t number) {
    std::string text(prefix);
    text += std::to_string(number);
    return text;
}

// The SMC key that a temperature of a chip other than applesmc stands for.
std::optional<std::string> mappedTemperatureKey(const std::string& chip, unsigned number,
                                                const std::optional<std::string>& label) {
    if (chip == "coretemp" && label) {
        if (*label == "Package id 0")
            return "TC0P";
        if (label->size() == 6 && label->starts_with("Core ") && label->back() >= '0' &&
            label->back() <= '9')
            return std::string("TC") + label->back() + 'C';
    }
    if (chip == "k10temp" && label == "Tctl")
        return "TC0P";
    if (chip == "amdgpu" || chip == "nouveau") {
        if (label == "edge" || (!label && number == 1))
            return "TG0D";
        if (label == "junction")
            return "TG0H";
    }
    return std::nullopt;
}

// An applesmc label is the key itself.
bool isSmcKey(const std::string& label) {
    return label.size() == 4 &&
           std::all_of(label.begin(), label.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

enum class Quantity { millidegrees, rpm };

struct Source {
    fs::path file;
    Quantity quantity;
};

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

class HwmonSmc final : public SmcTransport {
  public:
    HwmonSmc(std::map<std::uint32_t, Source> sources, std::size_t fanCount)
        : sources(std::move(sources)), fanCount{fourCharCode("ui8 "), 1, {std::uint8_t(fanCount)}} {
    }

    std::int32_t call(std::uint32_t selector, const void* input, std::size_t inputSize,
                      void* output, std::size_t* outputSize) override {
        return answerSmcCall([this](std::uint32_t key) { return entry(key); }, selector, input,
                             inputSize, output, outputSize);
    }

  private:
    // Read once, so that a key's two calls agree on its type and bytes.
    const SmcKeyEntry* entry(std::uint32_t key) {
        if (key == fourCharCode("FNum"))
            return &fanCount;
        auto source = sources.find(key);
        if (source == sources.end())
            return nullptr;
        auto [reading, isNew] = readings.try_emplace(key);
        if (isNew)
            reading->second = read(source->second);
        return reading->second ? &*reading->second : nullptr;
    }

    static std::optional<SmcKeyEntry> read(const Source& source) {
        auto text = readSysfsAttribute(source.file);
        auto value = text ? parseReading(*text) : std::nullopt;
        if (!value)
            return std::nullopt;
        return source.quantity == Quantity::millidegrees ? temperatureEntry(*value)
                                                         : speedEntry(*value);
    }

    std::map<std::uint32_t, Source> sources;
    SmcKeyEntry fanCount;
    std::map<std::uint32_t, std::optional<SmcKeyEntry>> readings;
};

} // namespace

std::unique_ptr<SmcTransport> openHwmonSmc(const fs::path& classDir) {
    std::vector<HwmonChip> chips = findHwmonChips(classDir);
    if (chips.empty())
        return nullptr;

    // applesmc's own keys come first; a stand-in never replaces one.
    std::map<std::uint32_t, Source> sources;
    std::map<std::uint32_t, Source> standIns;
    std::size_t fanIndex = 0;
    for (const HwmonChip& chip : chips) {
        for (unsigned n : chip.temperatures) {
            std::string base = numbered("temp", n);
            Source source{chip.dir / (base + "_input"), Quantity::millidegrees};
            std::optional<std::string> label = readSysfsAttribute(chip.dir / (base + "_label"));
            if (chip.name == "applesmc") {
                if (label && isSmcKey(*label))
                    sources.emplace(fourCharCode(*label), source);
            } else if (auto key = mappedTemperatureKey(chip.name, n, label)) {
                standIns.emplace(fourCharCode(*key), source);
            }
        }
        for (unsigned n : chip.fans) {
            // A fan count above 8 is refused whole, so the first 8 fans in chip order
            // stand for all: a board with 7 fans and a GPU with 2 still shows 8.
            if (fanIndex == maxFans)
                break;
            std::size_t index = fanIndex++;
            std::string key = numbered("F", index);
            std::string base = numbered("fan", n);
            for (auto [suffix, attribute] :
                 {std::pair{"Ac", "_input"}, {"Mn", "_min"}, {"Mx", "_max"}})
                standIns.emplace(fourCharCode(key + suffix),
                                 Source{chip.dir / (base + attribute), Quantity::rpm});
        }
    }
    sources.merge(standIns);
    return std::make_unique<HwmonSmc>(std::move(sources), fanIndex);
}

std::unique_ptr<SmcTransport> openSystemSmc() {
    return openHwmonSmc("/sys/class/hwmon");
}
