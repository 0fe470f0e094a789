#include "SignatureModule.h"
#include "../../../Shared/ProgramSignature.h"

namespace {

CorvaneSignatureVerdict verify(const CorvaneSignatureContent* content, const char* signature,
                               std::size_t signatureSize, const char* anchor,
                               std::size_t anchorSize, const CorvaneSignerSink* sink) {
    try {
        auto signer = programsignature::verify(
            [content](char* into, std::size_t size) {
                return content->read(content->context, into, size);
            },
            {signature, signatureSize}, {anchor, anchorSize});
        if (!signer)
            return corvaneSignatureRefused;
        sink->unit(sink->context, signer->organizationalUnit.data(),
                   signer->organizationalUnit.size());
        for (const auto& [name, value] : signer->fields)
            sink->field(sink->context, name.data(), name.size(), value.data(), value.size());
        return corvaneSignatureVerified;
    } catch (...) { // short of memory: nothing else in the check throws
        return corvaneSignatureUnchecked;
    }
}

} // namespace

extern "C" [[gnu::visibility("default")]] const CorvaneSignatureModule* corvaneSignatureModule() {
    static constexpr CorvaneSignatureModule module{signaturemodule::version, &verify};
    return &module;
}
