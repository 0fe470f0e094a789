#include "../ProcessIdentity.h"

#include "../../Shared/IdentityNote.h"
#include "ElfNotes.h"
#include "FileDescriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

// glibc 2.36 declares these without C linkage.
extern "C" {
#include <sys/pidfd.h>
}

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77 // Linux 6.5; older C libraries lack the name
#endif

namespace {

std::optional<CodeIdentity> identityOfNotes(const std::vector<ElfNote>& notes) {
    const ElfNote* found = nullptr;
    for (const ElfNote& note : notes) {
        if (note.owner != identitynote::owner || note.type != identitynote::type)
            continue;
        if (found)
            return std::nullopt;
        found = &note;
    }
    if (!found)
        return std::nullopt;
    return identitynote::decodePayload(found->payload);
}

// Whether the process `pidfd` holds still exists, so its pid has not passed to another.
bool stillRunning(int pidfd) {
    return pidfd_send_signal(pidfd, 0, nullptr, 0) == 0;
}

bool isShortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOMEM || error == ENOBUFS;
}

// Non-blocking, so that a FIFO in place of a program cannot stall the caller.
FileDescriptor openExecutable(const std::filesystem::path& executable) {
    return FileDescriptor(open(executable.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
}

// Opening the link opens the very file the process runs, even if its path has been
// replaced or removed since.
std::filesystem::path executableOf(pid_t pid) {
    return "/proc/" + std::to_string(pid) + "/exe";
}

std::optional<CodeIdentity> identityOfFile(const FileDescriptor& file) {
    auto notes = file ? readElfNotes(file.get()) : std::nullopt;
    return notes ? identityOfNotes(*notes) : std::nullopt;
}

PeerCheck checkHeldProcess(int pidfd, pid_t pid, uid_t uid, std::string_view requirement) {
    if (uid != geteuid())
        return PeerCheck::refused;
    FileDescriptor file = openExecutable(executableOf(pid));
    if (!file && isShortage(errno))
        return PeerCheck::undecided;
    auto identity = identityOfFile(file);
    return identity && stillRunning(pidfd) && satisfies(*identity, requirement)
               ? PeerCheck::satisfied
               : PeerCheck::refused;
}

} // namespace

std::optional<CodeIdentity> codeIdentityOfExecutable(const std::filesystem::path& executable) {
    return identityOfFile(openExecutable(executable));
}

std::optional<CodeIdentity> codeIdentityOfProcess(pid_t pid) {
    if (pid <= 0)
        return std::nullopt;
    return codeIdentityOfExecutable(executableOf(pid));
}

PeerCheck checkSocketPeer(int socket, std::string_view requirement) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof credentials || credentials.pid <= 0)
        return PeerCheck::refused;
    int pidfd = -1;
    length = sizeof pidfd;
    if (getsockopt(socket, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &length) != 0 && errno == ENOPROTOOPT)
        pidfd = pidfd_open(credentials.pid, 0); // an older kernel: the pid, held from now on
    FileDescriptor held(pidfd);
    if (!held)
        return isShortage(errno) ? PeerCheck::undecided : PeerCheck::refused;
    return checkHeldProcess(held.get(), credentials.pid, credentials.uid, requirement);
}

bool peerSatisfies(pid_t pid, uid_t uid, std::string_view requirement) {
    if (pid <= 0)
        return false;
    FileDescriptor held(pidfd_open(pid, 0));
    return held && checkHeldProcess(held.get(), pid, uid, requirement) == PeerCheck::satisfied;
}
