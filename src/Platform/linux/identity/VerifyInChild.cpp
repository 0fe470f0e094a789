#include "VerifyInChild.h"

#include "../system/FileDescriptor.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using programsignature::Signer;

// How the child ends.
constexpr int verified = 0;
constexpr int refused = 1;
constexpr int unfinished = 2;

// Far above what a signer's certificate can carry; a longer answer is not one.
constexpr std::size_t largestAnswerBytes = 1 << 20;

// The answer: each text as its length (native order: the same program reads it) and its
// bytes; the unit first, then each field's name and value.
void put(std::string& answer, std::string_view text) {
    auto length = std::uint32_t(text.size());
    answer.append(reinterpret_cast<const char*>(&length), sizeof length);
    answer.append(text);
}

[[nodiscard]] bool take(std::string_view& answer, std::string& text) {
    std::uint32_t length = 0;
    if (answer.size() < sizeof length)
        return false;
    std::memcpy(&length, answer.data(), sizeof length);
    answer.remove_prefix(sizeof length);
    if (answer.size() < length)
        return false;
    text.assign(answer.substr(0, length));
    answer.remove_prefix(length);
    return true;
}

std::string encode(const Signer& signer) {
    std::string answer;
    put(answer, signer.organizationalUnit);
    for (const auto& [name, value] : signer.fields) {
        put(answer, name);
        put(answer, value);
    }
    return answer;
}

Result<Signer> decode(std::string_view answer) {
    Signer signer;
    if (!take(answer, signer.organizationalUnit))
        return Failure{};
    while (!answer.empty()) {
        std::string name, value;
        if (!take(answer, name) || !take(answer, value))
            return Failure{};
        signer.fields.insert_or_assign(std::move(name), std::move(value));
    }
    return signer;
}

[[nodiscard]] bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(std::size_t(written));
    }
    return true;
}

// All the child writes; a failure when it says more than an answer can hold.
Result<std::string> readAll(int fd) {
    std::string bytes;
    char buffer[4096];
    for (;;) {
        ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return Failure::ofErrno();
        if (bytes.size() + std::size_t(got) > largestAnswerBytes)
            return Failure{};
        if (got == 0)
            return bytes;
        bytes.append(buffer, std::size_t(got));
    }
}

// The child's exit status; a failure when it did not exit by itself.
Result<int> exitStatus(pid_t child) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return Failure::ofErrno();
    return WIFEXITED(status) ? Result<int>(WEXITSTATUS(status)) : Failure{};
}

// Closes every descriptor from 3 up but `first` and `second`, where first < second.
void closeAllBut(int first, int second) {
    auto closeBetween = [](int low, int high) { // both included
        if (low > high || close_range(unsigned(low), unsigned(high), 0) == 0)
            return;
        for (int fd = low; fd <= high; ++fd) // kernels before 5.9
            close(fd);
    };
    rlimit files{};
    int last = getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < RLIM_INFINITY &&
                       files.rlim_cur <= rlim_t(INT32_MAX)
                   ? int(files.rlim_cur) - 1
                   : INT32_MAX;
    closeBetween(3, first - 1);
    closeBetween(first + 1, second - 1);
    closeBetween(second + 1, last);
}

} // namespace

bool hasOneThread() {
    // The kernel links each thread into the task folder, beside "." and "..".
    struct stat tasks {};
    return stat("/proc/self/task", &tasks) == 0 && tasks.st_nlink == 3;
}

Result<Signer> verifyInChild(int program, const std::function<Result<Signer>()>& verify) {
    if (!hasOneThread())
        return verify();
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return Failure::ofErrno();
    FileDescriptor reading(ends[0]);
    FileDescriptor writing(ends[1]);
    const pid_t parent = getpid();
    pid_t child = fork();
    if (child < 0)
        return Failure{ENOMEM}; // it fails only for want of memory or of processes
    if (child == 0) {
        // Nothing may unwind past here: the child would carry on as its parent.
        int ending = unfinished;
        // The child holds nothing of its parent's but the program and the answer's pipe, and
        // dies with it: a listening socket it kept open would outlive a killed agent and
        // stop the next one from taking over its path.
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)
            _exit(ending);
        closeAllBut(std::min(program, writing.get()), std::max(program, writing.get()));
        try {
            auto signer = verify();
            if (signer)
                ending = writeAll(writing.get(), encode(*signer)) ? verified : refused;
            else
                ending = signer.failure().isShortage() ? unfinished : refused;
        } catch (...) {
        }
        _exit(ending);
    }
    writing.reset();
    auto answer = readAll(reading.get());
    reading.reset(); // a child with more to say than an answer holds ends on a broken pipe
    auto status = exitStatus(child);
    if (!answer)
        return answer.failure();
    // A child killed (as the kernel does when short of memory), or one that ran short of
    // memory itself, gave no verdict.
    if (!status || *status == unfinished)
        return Failure{ENOMEM};
    if (*status != verified)
        return Failure{};
    return decode(*answer);
}
