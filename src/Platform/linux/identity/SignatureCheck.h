#pragma once

#include "../../../Shared/ProgramSignature.h"
#include "../system/Result.h"

// The signer, as programsignature::verify finds it; a shortage when the check ran out of
// memory. A program links the check in
// (LinkedSignatureCheck.cpp), or loads it from the bundle's module when it first needs it
// (LoadedSignatureCheck.cpp), so that its start never pays for the crypto library.
Result<programsignature::Signer> checkSignature(const programsignature::ContentReader& content,
                                                std::string_view signature,
                                                std::string_view anchor);
