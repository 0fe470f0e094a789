#include "../../Bundle.h"
#include "SignatureCheck.h"
#include "SignatureModule.h"

#include <dlfcn.h>

namespace {

using programsignature::Signer;

// The module beside the running program: Contents/MacOS/<program> loads
// Contents/<pathInContents>. Without it, or with one of another version, no signature
// verifies, so no caller is admitted; like every other failure, that goes unreported.
const CorvaneSignatureModule* loadModule() {
    auto executable = executablePath();
    if (!executable)
        return nullptr;
    auto path = executable->parent_path().parent_path() / signaturemodule::pathInContents;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto entry = module ? reinterpret_cast<signaturemodule::EntryFunction>(
                              dlsym(module, signaturemodule::entryName))
                        : nullptr;
    const CorvaneSignatureModule* found = entry ? entry() : nullptr;
    return found && found->version == signaturemodule::version ? found : nullptr;
}

// The signer as the module tells it; no exception may unwind through the module.
struct SignerTold {
    Signer signer;
    bool complete = true;

    static void unit(void* context, const char* text, std::size_t size) noexcept {
        auto& told = *static_cast<SignerTold*>(context);
        try {
            told.signer.organizationalUnit.assign(text, size);
        } catch (...) {
            told.complete = false;
        }
    }
    static void field(void* context, const char* name, std::size_t nameSize, const char* value,
                      std::size_t valueSize) noexcept {
        auto& told = *static_cast<SignerTold*>(context);
        try {
            told.signer.fields.insert_or_assign(std::string(name, nameSize),
                                                std::string(value, valueSize));
        } catch (...) {
            told.complete = false;
        }
    }
};

// Reads for the module; the reader a caller gives may throw, which must not cross.
struct ContentRead {
    const programsignature::ContentReader& reader;

    static long read(void* context, char* into, std::size_t size) noexcept {
        try {
            return static_cast<ContentRead*>(context)->reader(into, size);
        } catch (...) {
            return -1;
        }
    }
};

} // namespace

Result<Signer> checkSignature(const programsignature::ContentReader& content,
                              std::string_view signature, std::string_view anchor) {
    static const CorvaneSignatureModule* module = loadModule();
    if (!module)
        return Failure{};
    ContentRead read{content};
    const CorvaneSignatureContent source{&read, &ContentRead::read};
    SignerTold told;
    const CorvaneSignerSink sink{&told, &SignerTold::unit, &SignerTold::field};
    switch (module->verify(&source, signature.data(), signature.size(), anchor.data(),
                           anchor.size(), &sink)) {
    case corvaneSignatureVerified:
        if (!told.complete)
            return Failure{ENOMEM};
        return std::move(told.signer);
    case corvaneSignatureUnchecked:
        return Failure{ENOMEM};
    default:
        return Failure{};
    }
}
