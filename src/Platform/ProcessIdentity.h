#pragma once

#include "../Shared/CodeIdentity.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <sys/types.h>

// The identity of a signed executable file: nothing for a program without a valid
// signature that chains to our anchor, without an identity note, or with more than one,
// and for a file that is not a well-formed program. Verdicts are kept per version of a
// file (device, inode, size, modification and change times), so a program already
// verified is not hashed again while it stays unchanged.
std::optional<CodeIdentity> codeIdentityOfExecutable(const std::filesystem::path& executable);

// From now on signatures are verified each in a child process forked for it, so that a
// long-running process with a single thread does not carry the crypto library's pages.
void verifySignaturesInChildProcesses();

// The identity of a running process of this user, from the file it runs.
std::optional<CodeIdentity> codeIdentityOfProcess(pid_t pid);

// How a peer fared against a requirement. `undecided` when the check itself ran short of
// descriptors or memory: that says nothing about the peer, so it is to be tried again.
enum class PeerCheck { satisfied, refused, undecided };

// Who connected to a socket, as the kernel recorded it.
struct SocketPeer {
    pid_t pid = 0;
    uid_t uid = 0;
};

// Whether the process at the other end of the connected Unix socket `socket` runs as this
// user (the kernel's record of who connected) and runs a program whose identity satisfies
// `requirement`. The process is held by a pidfd taken from the socket, so a process that
// has ended, and any later process given its pid, is refused.
// `peer`, where given, is set to who connected.
PeerCheck checkSocketPeer(int socket, std::string_view requirement, SocketPeer* peer = nullptr);

// The same for a process that the kernel named by `pid` and `uid` (for example in
// SCM_CREDENTIALS), held by `pidfd` where the kernel gave one with them (SCM_PIDFD): then
// no later process given its pid can pass. Without one it is held from the moment of the
// check: one that ends during it is refused, but a pid reused before the check began
// cannot be told apart.
PeerCheck checkPeer(pid_t pid, uid_t uid, std::string_view requirement, int pidfd = -1);
