#pragma once

#include "../system/Result.h"

#include <cstdint>
#include <string>
#include <vector>

struct ElfNote {
    std::string owner;
    std::uint32_t type = 0;
    std::string payload;
};

// The notes of the 64-bit, native byte order ELF file whose first `size` bytes of `fd`
// are the program: those of its PT_NOTE segments, or of its SHT_NOTE sections when it
// has no program headers. Every offset and size is checked against `size`; a failure when
// anything is out of bounds or malformed.
Result<std::vector<ElfNote>> readElfNotes(int fd, std::uint64_t size);
