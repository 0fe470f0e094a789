// Arbitrary bytes as a program file: the identity reader must neither crash nor read
// outside the file, whatever the headers and notes claim.
#include "Platform/ProcessIdentity.h"

#include <cstdint>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const int file = memfd_create("program", MFD_CLOEXEC);
    if (file < 0 || ftruncate(file, 0) != 0 || pwrite(file, data, size, 0) != ssize_t(size))
        return 0;
    static const std::string path = "/proc/self/fd/" + std::to_string(file);
    codeIdentityOfExecutable(path);
    return 0;
}
