#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ElfNote {
    std::string owner;
    std::uint32_t type = 0;
    std::string payload;
};

// The notes of the 64-bit, native byte order ELF file open as `fd`: those of its PT_NOTE
// segments, or of its SHT_NOTE sections when it has no program headers. Every offset and
// size is checked against the file; nothing when anything is out of bounds or malformed.
std::optional<std::vector<ElfNote>> readElfNotes(int fd);
