#include "SignatureCheck.h"

#include <new>

Result<programsignature::Signer> checkSignature(const programsignature::ContentReader& content,
                                                std::string_view signature,
                                                std::string_view anchor) {
    try {
        if (auto signer = programsignature::verify(content, signature, anchor))
            return std::move(*signer);
        return Failure{};
    } catch (const std::bad_alloc&) {
        return Failure{ENOMEM};
    }
}
