// Arbitrary bytes as a signed program, and as a signature over a fixed program: neither
// the trailer, the CMS nor the certificates in it may crash the reader.
#include "Shared/ProgramSignature.h"
#include "Shared/SigningAnchor.h"

#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (auto file = programsignature::split(bytes))
        programsignature::verify(file->content, file->signature, signingAnchor());
    programsignature::verify("program", bytes, signingAnchor());
    return 0;
}
