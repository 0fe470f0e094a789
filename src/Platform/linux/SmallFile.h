#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

// The first `limit` bytes of a file, or all of it when shorter; nothing when it cannot be
// opened or read. Plain system calls: no stream, so no locale is set up for it.
std::optional<std::string> readFileStart(const std::filesystem::path& file, std::size_t limit);

// An attribute's one line without its line feed; nothing when it cannot be read or is
// longer than any reading or label.
std::optional<std::string> readSysfsAttribute(const std::filesystem::path& file);
