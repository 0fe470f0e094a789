#pragma once

#include "../../../Shared/ProgramSignature.h"
#include "../system/Result.h"

#include <functional>

// What `verify` finds, worked out in a child forked for it, so that the crypto library's
// code and tables it touches never swell this long-running process. The child keeps only
// the descriptor `program` open, with the standard streams. A shortage when no child
// could be made or it did not finish. A process with more than one thread verifies in
// itself: a child forked from it could wait forever on a lock another thread held.
Result<programsignature::Signer>
verifyInChild(int program, const std::function<Result<programsignature::Signer>()>& verify);

// Whether the calling process runs one thread, as the kernel counts them now.
[[nodiscard]] bool hasOneThread();
