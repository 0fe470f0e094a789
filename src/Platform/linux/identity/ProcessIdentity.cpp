#include "../../ProcessIdentity.h"

#include "../../../Shared/IdentityNote.h"
#include "../../../Shared/ProgramSignature.h"
#include "../../../Shared/SigningAnchor.h"
#include "../system/FileDescriptor.h"
#include "ElfNotes.h"
#include "SignatureCheck.h"
#include "VerifyInChild.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <linux/magic.h>
#include <map>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

// glibc 2.36 declares these without C linkage.
extern "C" {
#include <sys/pidfd.h>
}

#ifndef SO_PEERPIDFD
#define SO_PEERPIDFD 77 // Linux 6.5; older C libraries lack the name
#endif

namespace {

// Far above what our signer writes; a hostile trailer cannot make us read more.
constexpr std::size_t largestSignatureBytes = std::size_t{64} * 1024;

// What a file holds can change only with its size, modification or change time; the
// change time no process can set back.
using FileVersion = std::array<std::int64_t, 7>;

FileVersion versionOf(const struct stat& status) {
    return {std::int64_t(status.st_dev), std::int64_t(status.st_ino), std::int64_t(status.st_size),
            status.st_mtim.tv_sec,       status.st_mtim.tv_nsec,      status.st_ctim.tv_sec,
            status.st_ctim.tv_nsec};
}

// Verdicts on files already verified, so that a known program is not hashed again.
class VerifiedFiles {
  public:
    // The verdict on a version verified before, if one is kept.
    std::optional<Result<CodeIdentity>> find(const FileVersion& version) {
        std::lock_guard lock(mutex_);
        auto found = verdicts_.find(version);
        if (found == verdicts_.end())
            return std::nullopt;
        return found->second.identity;
    }

    // Whether the file's identity satisfies `requirement`, for a version verified before.
    // An identity cannot change, so neither can the answer: it is kept with the verdict.
    std::optional<bool> satisfies(const FileVersion& version, std::string_view requirement) {
        std::lock_guard lock(mutex_);
        auto found = verdicts_.find(version);
        if (found == verdicts_.end())
            return std::nullopt;
        Verdict& verdict = found->second;
        auto known = verdict.answers.find(requirement);
        if (known != verdict.answers.end())
            return known->second;
        bool answer = verdict.identity && ::satisfies(*verdict.identity, requirement);
        if (verdict.answers.size() < largestAnswerCount)
            verdict.answers.emplace(requirement, answer);
        return answer;
    }

    // A file changed within the last seconds could change again within the same tick of
    // its file system's clock, unseen; its verdict is not kept.
    void remember(const struct stat& status, const Result<CodeIdentity>& identity) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        if (status.st_ctim.tv_sec + settledSeconds > now.tv_sec)
            return;
        std::lock_guard lock(mutex_);
        if (verdicts_.size() >= largestCount)
            verdicts_.clear();
        verdicts_.insert_or_assign(versionOf(status), Verdict{identity, {}});
    }

  private:
    static constexpr std::int64_t settledSeconds = 3; // above the coarsest (FAT's 2 s)
    static constexpr std::size_t largestCount = 256;
    static constexpr std::size_t largestAnswerCount = 8;

    struct Verdict {
        Result<CodeIdentity> identity;
        std::map<std::string, bool, std::less<>> answers; // by requirement text
    };

    std::mutex mutex_;
    std::map<FileVersion, Verdict> verdicts_;
};

VerifiedFiles& verifiedFiles() {
    static VerifiedFiles files;
    return files;
}

Result<CodeIdentity> identityOfNotes(const std::vector<ElfNote>& notes) {
    const ElfNote* found = nullptr;
    for (const ElfNote& note : notes) {
        if (note.owner != identitynote::owner || note.type != identitynote::type)
            continue;
        if (found)
            return Failure{};
        found = &note;
    }
    if (!found)
        return Failure{};
    if (auto identity = identitynote::decodePayload(found->payload))
        return std::move(*identity);
    return Failure{};
}

std::atomic<bool> verifiedApart{false};

// The identity of the signed program in `fd`: the rest from the signer's certificate,
// identifier and entitlements from the note in the bytes it signed, which alone are
// parsed. The file is read, not mapped, so that checking a large program does not swell
// our memory. A file system in user space could show us other bytes than it runs, so no
// program from one has an identity. A shortage when the check itself ran short.
Result<CodeIdentity> verifiedIdentity(int fd, const struct stat& status) {
    struct statfs fileSystem {};
    if (fstatfs(fd, &fileSystem) != 0 || fileSystem.f_type == FUSE_SUPER_MAGIC)
        return Failure{};
    const auto size = std::uint64_t(status.st_size);
    std::string trailer(programsignature::trailerBytes, '\0');
    if (size < trailer.size() || !readAt(fd, size - trailer.size(), trailer.data(), trailer.size()))
        return Failure{};
    auto length = programsignature::signatureLength(trailer);
    if (!length || *length > largestSignatureBytes || *length > size - trailer.size())
        return Failure{};
    const std::uint64_t contentSize = size - trailer.size() - *length;
    std::string signature(*length, '\0');
    if (!readAt(fd, contentSize, signature.data(), signature.size()))
        return Failure{};
    auto verify = [&] {
        std::uint64_t offset = 0;
        return checkSignature(
            [&](char* into, std::size_t wanted) -> long {
                wanted = std::size_t(std::min<std::uint64_t>(wanted, contentSize - offset));
                if (wanted > 0 && !readAt(fd, offset, into, wanted))
                    return -1;
                offset += wanted;
                return long(wanted);
            },
            signature, signingAnchor());
    };
    auto signer = verifiedApart ? verifyInChild(fd, verify) : verify();
    if (!signer)
        return signer.failure();
    auto notes = readElfNotes(fd, contentSize);
    if (!notes)
        return notes.failure();
    auto identity = identityOfNotes(*notes);
    if (!identity)
        return identity;
    identity->team = std::move(signer->organizationalUnit);
    identity->anchoredByPlatform = true;
    identity->certificateFields = std::move(signer->fields);
    return identity;
}

// The identity of the program at `executable`, verified now. A shortage says nothing about
// the program, so it is not kept.
Result<CodeIdentity> verifiedIdentityOfFile(const char* executable) {
    // Non-blocking, so that a FIFO in place of a program cannot stall the caller.
    FileDescriptor file(open(executable, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (!file)
        return Failure::ofErrno();
    struct stat status {};
    if (fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode))
        return Failure{};
    auto identity = verifiedIdentity(file.get(), status);
    if (identity || !identity.failure().isShortage())
        verifiedFiles().remember(status, identity);
    return identity;
}

// The same, from the verdict on a version of the file verified before.
Result<CodeIdentity> identityOfExecutable(const char* executable) {
    struct stat status {};
    if (stat(executable, &status) == 0)
        if (auto known = verifiedFiles().find(versionOf(status)))
            return *known;
    return verifiedIdentityOfFile(executable);
}

// Whether the program at `executable` satisfies `requirement`: for a known version of the
// file, without copying or evaluating anything.
Result<void> executableSatisfies(const char* executable, std::string_view requirement) {
    struct stat status {};
    if (stat(executable, &status) == 0)
        if (auto known = verifiedFiles().satisfies(versionOf(status), requirement))
            return *known ? Result<void>() : Failure{};
    auto identity = verifiedIdentityOfFile(executable);
    if (!identity)
        return identity.failure();
    return satisfies(*identity, requirement) ? Result<void>() : Failure{};
}

// The link leads to the very file the process runs, even if its path has been replaced
// or removed since.
std::string executableOf(pid_t pid) {
    return "/proc/" + std::to_string(pid) + "/exe";
}

// Whether the process `pidfd` holds still exists, so its pid has not passed to another.
[[nodiscard]] bool stillRunning(int pidfd) {
    return pidfd_send_signal(pidfd, 0, nullptr, 0) == 0;
}

PeerCheck checkHeldProcess(int pidfd, pid_t pid, uid_t uid, std::string_view requirement) {
    if (uid != geteuid())
        return PeerCheck::refused;
    auto satisfied = executableSatisfies(executableOf(pid).c_str(), requirement);
    if (!satisfied && satisfied.failure().isShortage())
        return PeerCheck::undecided;
    return satisfied && stillRunning(pidfd) ? PeerCheck::satisfied : PeerCheck::refused;
}

} // namespace

void verifySignaturesInChildProcesses() {
    verifiedApart = true;
}

std::optional<CodeIdentity> codeIdentityOfExecutable(const std::filesystem::path& executable) {
    return asOptional(identityOfExecutable(executable.c_str()));
}

std::optional<CodeIdentity> codeIdentityOfProcess(pid_t pid) {
    if (pid <= 0)
        return std::nullopt;
    return asOptional(identityOfExecutable(executableOf(pid).c_str()));
}

PeerCheck checkSocketPeer(int socket, std::string_view requirement, SocketPeer* peer) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof credentials || credentials.pid <= 0)
        return PeerCheck::refused;
    if (peer)
        *peer = SocketPeer{credentials.pid, credentials.uid};
    int pidfd = -1;
    length = sizeof pidfd;
    if (getsockopt(socket, SOL_SOCKET, SO_PEERPIDFD, &pidfd, &length) != 0) {
        if (errno != ENOPROTOOPT)
            return Failure::ofErrno().isShortage() ? PeerCheck::undecided : PeerCheck::refused;
        pidfd = -1; // an older kernel: the pid, held from now on
    }
    FileDescriptor held(pidfd);
    return checkPeer(credentials.pid, credentials.uid, requirement, held.get());
}

PeerCheck checkPeer(pid_t pid, uid_t uid, std::string_view requirement, int pidfd) {
    if (pid <= 0)
        return PeerCheck::refused;
    FileDescriptor opened;
    if (pidfd < 0) {
        opened.reset(pidfd_open(pid, 0));
        if (!opened)
            return Failure::ofErrno().isShortage() ? PeerCheck::undecided : PeerCheck::refused;
        pidfd = opened.get();
    }
    return checkHeldProcess(pidfd, pid, uid, requirement);
}
