#include "HwmonTree.h"

#include "../system/SmallFile.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace fs = std::filesystem;

namespace {

// "<prefix>N<suffix>" with N a decimal number: N, else nothing.
std::optional<unsigned> numberIn(std::string_view name, std::string_view prefix,
                                 std::string_view suffix) {
    if (!name.starts_with(prefix) || !name.ends_with(suffix) ||
        name.size() <= prefix.size() + suffix.size())
        return std::nullopt;
    std::string_view digits =
        name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    unsigned number = 0;
    auto [stop, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc() || stop != digits.data() + digits.size())
        return std::nullopt;
    return number;
}

void listInputs(HwmonChip& chip) {
    for (const std::string& file : directoryNames(chip.dir).value_or(std::vector<std::string>())) {
        if (auto temperature = numberIn(file, "temp", "_input"))
            chip.temperatures.push_back(*temperature);
        else if (auto fan = numberIn(file, "fan", "_input"))
            chip.fans.push_back(*fan);
    }
    std::sort(chip.temperatures.begin(), chip.temperatures.end());
    std::sort(chip.fans.begin(), chip.fans.end());
}

} // namespace

std::vector<HwmonChip> findHwmonChips(const fs::path& classDir) {
    std::vector<std::pair<unsigned, fs::path>> entries;
    for (const std::string& name : directoryNames(classDir).value_or(std::vector<std::string>()))
        if (auto number = numberIn(name, "hwmon", ""))
            entries.emplace_back(*number, classDir / name);
    std::sort(entries.begin(), entries.end());

    std::vector<HwmonChip> chips;
    for (const auto& [number, path] : entries) {
        for (const fs::path& dir : {path, path / "device"}) {
            if (auto name = readSysfsAttribute(dir / "name")) {
                chips.push_back(HwmonChip{*name, dir, {}, {}});
                listInputs(chips.back());
                break;
            }
        }
    }
    return chips;
}
