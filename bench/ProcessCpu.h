#pragma once

#include <benchmark/benchmark.h>

#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <unistd.h>

// Processor time the given processes have used so far, all their threads together, in
// microseconds: on a busy machine the work each call costs varies far less than its time.
inline double processorMicroseconds(std::initializer_list<pid_t> processes) {
    double ticks = 0;
    for (pid_t pid : processes) {
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        // Fields after the command, which ends with the last ')': state is the 3rd field,
        // user time the 14th and system time the 15th.
        std::size_t at = line.rfind(')');
        if (at == std::string::npos)
            continue;
        std::istringstream fields(line.substr(at + 2));
        std::string skipped;
        for (int field = 3; field < 14; ++field)
            fields >> skipped;
        double user = 0, system = 0;
        fields >> user >> system;
        ticks += user + system;
    }
    return ticks * 1e6 / double(sysconf(_SC_CLK_TCK));
}

// Reports the processor time per iteration that `processes` used since `start`.
inline void reportProcessorTime(benchmark::State& state, double start,
                                std::initializer_list<pid_t> processes) {
    state.counters["cpuAllProcesses_us"] = benchmark::Counter(
        processorMicroseconds(processes) - start, benchmark::Counter::kAvgIterations);
}
