#pragma once

#include "../Shared/CodeIdentity.h"

#include <filesystem>
#include <optional>
#include <sys/types.h>

// The identity embedded in an executable file; nothing for a program without one.
std::optional<CodeIdentity> codeIdentityOfExecutable(const std::filesystem::path& executable);

// The identity of a running process of this user, from its executable.
std::optional<CodeIdentity> codeIdentityOfProcess(pid_t pid);
