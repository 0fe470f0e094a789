#include "RunningProgram.h"

#include <csignal>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

RunningProgram::RunningProgram(const std::string& program, std::vector<std::string> arguments) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return;
    arguments.insert(arguments.begin(), program);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) { // only async-signal-safe calls here: the test may have threads
        dup2(ends[1], STDIN_FILENO);
        dup2(ends[1], STDOUT_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(ends[1]);
    channel_ = ends[0];
    pollfd ready{channel_, POLLIN, 0};
    char c;
    while (pid_ > 0 && poll(&ready, 1, 10000) > 0 && read(channel_, &c, 1) == 1 && c != '\n')
        firstLine_ += c;
}

RunningProgram::~RunningProgram() {
    if (pid_ > 0)
        kill(pid_, SIGKILL);
    finish();
}

int RunningProgram::finish() {
    if (channel_ >= 0)
        close(std::exchange(channel_, -1));
    int status = 0;
    bool ended = pid_ > 0 && waitpid(std::exchange(pid_, -1), &status, 0) > 0;
    return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
