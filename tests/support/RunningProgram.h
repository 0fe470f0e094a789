#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A child process that runs until its standard input is closed, as the identity probes
// do. It is started with argv[0] = program and told to end when the object goes.
class RunningProgram {
  public:
    explicit RunningProgram(const std::string& program, std::vector<std::string> arguments = {});
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;
    ~RunningProgram();

    pid_t pid() const { return pid_; }
    // The first line the program wrote, or "" when it wrote none within 10 seconds.
    const std::string& firstLine() const { return firstLine_; }
    // Closes its standard input and waits for it to end; its exit status, or -1.
    int finish();

  private:
    pid_t pid_ = -1;
    int channel_ = -1; // our end of its standard input and output
    std::string firstLine_;
};
