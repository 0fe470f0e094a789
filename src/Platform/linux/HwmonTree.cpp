#include "HwmonTree.h"

#include "SmallFile.h"

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
    std::error_code error;
    for (fs::directory_iterator it(chip.dir, error), end; !error && it != end;
         it.increment(error)) {
        std::string file = it->path().filename().string();
        if (auto n = numberIn(file, "temp", "_input"))
            chip.temperatures.push_back(*n);
        else if (auto n = numberIn(file, "fan", "_input"))
            chip.fans.push_back(*n);
    }
    std::sort(chip.temperatures.begin(), chip.temperatures.end());
    std::sort(chip.fans.begin(), chip.fans.end());
}

} // namespace

std::vector<HwmonChip> findHwmonChips(const fs::path& classDir) {
    std::vector<std::pair<unsigned, fs::path>> entries;
    std::error_code error;
    for (fs::directory_iterator it(classDir, error), end; !error && it != end; it.increment(error))
        if (auto number = numberIn(it->path().filename().string(), "hwmon", ""))
            entries.emplace_back(*number, it->path());
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
