#pragma once

#include <chrono>
#include <string>
#include <vector>

struct ChildResult {
    std::string out;
    std::string err;
    int exitStatus = -1; // -1 when it did not exit normally
    bool timedOut = false;
};

// Runs program with argv[0] = arguments[0]; a child still running after `limit` is killed.
ChildResult runChild(const std::string& program, const std::vector<std::string>& arguments,
                     std::chrono::milliseconds limit = std::chrono::seconds(10));
