// Arbitrary bytes as a program file into the ELF note reader, which reads the files of
// untrusted peers: no crash, and nothing read from beyond the file.
#include "Platform/linux/identity/ElfNotes.h"

#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int file = memfd_create("program", MFD_CLOEXEC);
    if (file < 0 || ftruncate(file, 0) != 0 || pwrite(file, data, size, 0) != ssize_t(size))
        std::abort();
    if (auto notes = readElfNotes(file, size))
        for (const ElfNote& note : *notes)
            if (note.owner.size() + note.payload.size() > size)
                std::abort();
    return 0;
}
