#include "SignatureModule.h"

extern "C" [[gnu::visibility("default")]] const signaturemodule::Entry* corvaneSignatureModule() {
    static constexpr signaturemodule::Entry entry{&programsignature::verify};
    return &entry;
}
