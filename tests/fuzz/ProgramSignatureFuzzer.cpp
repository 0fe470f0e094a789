// Arbitrary bytes as a signature over a fixed program, and as a signed file's trailer:
// neither the trailer, the CMS nor the certificates in it may crash the reader.
#include "Shared/ProgramSignature.h"
#include "Shared/SigningAnchor.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (size >= programsignature::trailerBytes)
        programsignature::signatureLength(bytes.substr(size - programsignature::trailerBytes));
    std::string_view content = "program";
    auto reader = [&content](char* into, std::size_t wanted) -> long {
        wanted = std::min(wanted, content.size());
        std::memcpy(into, content.data(), wanted);
        content.remove_prefix(wanted);
        return long(wanted);
    };
    programsignature::verify(reader, bytes, signingAnchor());
    return 0;
}
