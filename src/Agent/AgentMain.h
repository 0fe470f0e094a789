#pragma once

#include "Collector.h"

#include <span>
#include <string_view>

// True when any argument, the program path included, is exactly "--snapshot".
bool wantsSnapshotCommand(std::span<const char* const> arguments);

// Prints one pretty, sorted snapshot and a line feed to outputFd in two writes.
// Returns 0, or 1 with nothing written when the snapshot cannot be encoded.
int runSnapshotCommand(const SnapshotSources& sources, int outputFd);

// The whole program: chooses the mode first, before anything else runs.
int runAgent(int argc, const char* const* argv, const SnapshotSources& sources);
