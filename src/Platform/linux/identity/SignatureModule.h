#pragma once

#include "../../../Shared/ProgramSignature.h"

// A program that must start quickly leaves the crypto library out of its own image: it
// loads the signature check from this module, built with the same compiler and library,
// only when it has a signature to check.
namespace signaturemodule {

// The module's file, in the bundle's Contents folder.
inline constexpr const char* pathInContents = "Frameworks/libCorvaneSignature.so";

// What the module hands out through its one exported function, named entryName.
struct Entry {
    decltype(&programsignature::verify) verify;
};
using EntryFunction = const Entry* (*)();
inline constexpr const char* entryName = "corvaneSignatureModule";

} // namespace signaturemodule
