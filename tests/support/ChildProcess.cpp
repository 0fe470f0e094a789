#include "ChildProcess.h"

#include <csignal>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

// The streams go to memory files rather than pipes, so a child never blocks on a full pipe
// and only the child itself is waited for, through a pidfd that can time out.
ChildResult runChild(const std::string& program, const std::vector<std::string>& arguments,
                     std::chrono::milliseconds limit) {
    // Everything written to a memory file, read from its start through a fresh opening.
    auto contents = [](int fd) {
        std::ifstream file("/proc/self/fd/" + std::to_string(fd), std::ios::binary);
        std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        close(fd);
        return text;
    };
    ChildResult result;
    int out = memfd_create("out", MFD_CLOEXEC), err = memfd_create("err", MFD_CLOEXEC);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err, STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        pollfd child{int(syscall(SYS_pidfd_open, pid, 0)), POLLIN, 0};
        result.timedOut = poll(&child, 1, int(limit.count())) == 0;
        if (result.timedOut)
            kill(pid, SIGKILL);
        close(child.fd);
        int status = 0;
        waitpid(pid, &status, 0);
        if (WIFEXITED(status))
            result.exitStatus = WEXITSTATUS(status);
    }
    posix_spawn_file_actions_destroy(&actions);
    result.out = contents(out);
    result.err = contents(err);
    return result;
}
