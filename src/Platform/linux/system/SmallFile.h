#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The first `limit` bytes of a file, or all of it when shorter; nothing when it cannot be
// opened or read. Plain system calls: no stream, so no locale is set up for it.
std::optional<std::string> readFileStart(const std::filesystem::path& file, std::size_t limit);

// An attribute's one line without its line feed; nothing when it cannot be read or is
// longer than any reading or label.
std::optional<std::string> readSysfsAttribute(const std::filesystem::path& file);

// An attribute holding one whole decimal number, as hwmon and DRM write their readings;
// nothing when it cannot be read (a sleeping device may refuse) or holds anything else.
std::optional<std::int64_t> readSysfsInteger(const std::filesystem::path& file);

// The names in a directory, "." and ".." left out, in the order the kernel gives them;
// nothing when it cannot be opened. Names only: no path is built for each entry.
std::optional<std::vector<std::string>> directoryNames(const std::filesystem::path& directory);
