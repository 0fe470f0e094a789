#include "RunningProgram.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string readLine(int fd, int limitMilliseconds) {
    std::string line;
    pollfd ready{fd, POLLIN, 0};
    char c;
    while (poll(&ready, 1, limitMilliseconds) > 0 && read(fd, &c, 1) == 1 && c != '\n')
        line += c;
    return line;
}

} // namespace

RunningProgram::RunningProgram(const std::string& program, std::vector<std::string> arguments) {
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0)
        return;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    arguments.insert(arguments.begin(), program);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    input_ = in[1];
    if (pid_ > 0)
        firstLine_ = readLine(out[0], 10000);
    close(out[0]);
}

RunningProgram::~RunningProgram() {
    if (pid_ > 0)
        kill(pid_, SIGKILL);
    finish();
}

int RunningProgram::finish() {
    if (input_ >= 0) {
        close(input_);
        input_ = -1;
    }
    if (pid_ <= 0)
        return -1;
    int status = 0;
    pid_t waited = waitpid(pid_, &status, 0);
    pid_ = -1;
    return waited > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
