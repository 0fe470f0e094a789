#pragma once

#include "Result.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// The first `limit` bytes of a file, or all of it when shorter; a failure when it cannot be
// opened or read. Plain system calls: no stream, so no locale is set up for it.
Result<std::string> readFileStart(const std::filesystem::path& file, std::size_t limit);

// An attribute's one line without its line feed; a failure when it cannot be read or is
// longer than any reading or label.
Result<std::string> readSysfsAttribute(const std::filesystem::path& file);

// An attribute holding one whole decimal number, as hwmon and DRM write their readings;
// a failure when it cannot be read (a sleeping device may refuse) or holds anything else.
Result<std::int64_t> readSysfsInteger(const std::filesystem::path& file);

// The names in a directory, "." and ".." left out, in the order the kernel gives them;
// a failure when it cannot be opened. Names only: no path is built for each entry.
Result<std::vector<std::string>> directoryNames(const std::filesystem::path& directory);
