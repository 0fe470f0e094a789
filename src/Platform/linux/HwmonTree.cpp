#include "HwmonTree.h"

#include <algorithm>
#include <charconv>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr std::size_t attributeLimit = 64;

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

std::optional<std::string> readSysfsAttribute(const fs::path& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::string text;
    char buffer[attributeLimit + 1];
    while (text.size() <= attributeLimit) {
        ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0) {
            ::close(fd);
            return std::nullopt;
        }
        if (count == 0)
            break;
        text.append(buffer, std::size_t(count));
    }
    ::close(fd);
    if (text.size() > attributeLimit)
        return std::nullopt;
    if (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

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
