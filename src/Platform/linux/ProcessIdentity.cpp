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

bool heldProcessSatisfies(int pidfd, pid_t pid, uid_t uid, std::string_view requirement) {
    if (uid != geteuid())
        return false;
    auto identity = codeIdentityOfProcess(pid);
    return identity && stillRunning(pidfd) && satisfies(*identity, requirement);
}

} // namespace

std::optional<CodeIdentity> codeIdentityOfExecutable(const std::filesystem::path& executable) {
    // Non-blocking, so that a FIFO in place of a program cannot stall the caller.
    FileDescriptor file(open(executable.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.get() < 0)
        return std::nullopt;
    auto notes = readElfNotes(file.get());
    if (!notes)
        return std::nullopt;
    return identityOfNotes(*notes);
}

std::optional<CodeIdentity> codeIdentityOfProcess(pid_t pid) {
    if (pid <= 0)
        return std::nullopt;
    // Opening the link opens the very file the process runs, even if its path has been
    // replaced or removed since.
    return codeIdentityOfExecutable("/proc/" + std::to_string(pid) + "/exe");
}

bool socketPeerSatisfies(int socket, std::string_view requirement) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof credentials || credentials.pid <= 0)
        return false;
    int pidfd = -1;
    length = sizeof pidfd;
    if (getsockopt(socket, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &length) != 0) {
        if (errno != ENOPROTOOPT)
            return false;
        // An older kernel: the peer's pid, held from now on.
        pidfd = pidfd_open(credentials.pid, 0);
    }
    FileDescriptor held(pidfd);
    return held.get() >= 0 &&
           heldProcessSatisfies(held.get(), credentials.pid, credentials.uid, requirement);
}

bool peerSatisfies(pid_t pid, uid_t uid, std::string_view requirement) {
    if (pid <= 0)
        return false;
    FileDescriptor held(pidfd_open(pid, 0));
    return held.get() >= 0 && heldProcessSatisfies(held.get(), pid, uid, requirement);
}
