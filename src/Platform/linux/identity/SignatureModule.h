#pragma once

#include <cstddef>
#include <cstdint>

// The signature module's boundary: plain C types only, since the module carries its own
// copy of the C++ library, and a version, so that a module from another build is refused
// rather than misread. No exception crosses it.
extern "C" {

// Hands out the signed bytes in order: how many it put in `into` (at most `size`), 0 at
// their end, below 0 when they cannot be read.
struct CorvaneSignatureContent {
    void* context;
    long (*read)(void* context, char* into, std::size_t size);
};

// Told the verified signer's certificate: its organisational unit once, then each field.
struct CorvaneSignerSink {
    void* context;
    void (*unit)(void* context, const char* text, std::size_t size);
    void (*field)(void* context, const char* name, std::size_t nameSize, const char* value,
                  std::size_t valueSize);
};

enum CorvaneSignatureVerdict : std::int32_t {
    corvaneSignatureVerified = 0,
    corvaneSignatureRefused = 1,
    corvaneSignatureUnchecked = 2, // the module ran short of memory
};

struct CorvaneSignatureModule {
    std::uint32_t version;
    CorvaneSignatureVerdict (*verify)(const CorvaneSignatureContent* content, const char* signature,
                                      std::size_t signatureSize, const char* anchor,
                                      std::size_t anchorSize, const CorvaneSignerSink* signer);
};

} // extern "C"

namespace signaturemodule {

// Raised whenever the boundary changes.
inline constexpr std::uint32_t version = 1;

// The module's file, in the bundle's Contents folder.
inline constexpr const char* pathInContents = "Frameworks/libCorvaneSignature.so";

// Its one exported function, returning its CorvaneSignatureModule.
using EntryFunction = const CorvaneSignatureModule* (*)();
inline constexpr const char* entryName = "corvaneSignatureModule";

} // namespace signaturemodule
