#pragma once

#include "../../../Shared/ProgramSignature.h"

#include <functional>
#include <optional>

// What `verify` finds, worked out in a child forked for it, so that the crypto library's
// code and tables it touches never swell this long-running process. Nothing as well when
// no child could be made or it did not finish; then `shortage` is set. The child keeps
// only the descriptor `program` open, with the standard streams. Only for a process
// with a single thread.
std::optional<programsignature::Signer>
verifyInChild(int program, const std::function<std::optional<programsignature::Signer>()>& verify,
              bool& shortage);
