#include "SignatureModule.h"

#include "../../Bundle.h"

#include <dlfcn.h>

namespace {

// The module beside the running program: Contents/MacOS/<program> loads
// Contents/<pathInContents>.
const signaturemodule::Entry* loadModule() {
    auto executable = executablePath();
    if (!executable)
        return nullptr;
    auto path = executable->parent_path().parent_path() / signaturemodule::pathInContents;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    auto entry = module ? reinterpret_cast<signaturemodule::EntryFunction>(
                              dlsym(module, signaturemodule::entryName))
                        : nullptr;
    // Without it no signature verifies, so no caller is admitted; like every other
    // failure, that goes unreported.
    return entry ? entry() : nullptr;
}

} // namespace

namespace programsignature {

std::optional<Signer> verify(const ContentReader& content, std::string_view signature,
                             std::string_view anchor) {
    static const signaturemodule::Entry* module = loadModule();
    if (!module)
        return std::nullopt;
    return module->verify(content, signature, anchor);
}

} // namespace programsignature
