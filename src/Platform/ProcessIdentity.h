#pragma once

#include "../Shared/CodeIdentity.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <sys/types.h>

// The identity embedded in an executable file; nothing for a program without one, for a
// file that is not a well-formed program, or for one that carries more than one identity.
std::optional<CodeIdentity> codeIdentityOfExecutable(const std::filesystem::path& executable);

// The identity of a running process of this user, from the file it runs.
std::optional<CodeIdentity> codeIdentityOfProcess(pid_t pid);

// How a peer fared against a requirement. `undecided` when the check itself ran short of
// descriptors or memory: that says nothing about the peer, so it is to be tried again.
enum class PeerCheck { satisfied, refused, undecided };

// Whether the process at the other end of the connected Unix socket `socket` runs as this
// user (the kernel's record of who connected) and runs a program whose identity satisfies
// `requirement`. The process is held by a pidfd taken from the socket, so a process that
// has ended, and any later process given its pid, is refused.
PeerCheck checkSocketPeer(int socket, std::string_view requirement);

// The same for a process that the kernel named by `pid` and `uid` (for example in
// SCM_CREDENTIALS). The process is held by a pidfd from the moment of the check: one that
// ends during it is refused, but a pid reused before the check began cannot be told apart,
// so prefer checkSocketPeer where the peer is a socket's.
bool peerSatisfies(pid_t pid, uid_t uid, std::string_view requirement);
