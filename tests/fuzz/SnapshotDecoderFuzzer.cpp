// Arbitrary bytes into the snapshot decoder: no crash, and whatever decodes encodes
// back to a text that decodes to the same record.
#include "Shared/SnapshotJSON.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto snapshot = decodeSnapshot(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!snapshot)
        return 0;
    // The parser refuses numbers that overflow, so every decoded double is finite.
    auto encoded = encodeCompact(*snapshot);
    if (!encoded || decodeSnapshot(*encoded) != snapshot)
        std::abort();
    return 0;
}
