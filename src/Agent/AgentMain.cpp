#include "AgentMain.h"

#include "../Shared/SnapshotJSON.h"
#include "ServiceMode.h"

#include <algorithm>
#include <unistd.h>

bool wantsSnapshotCommand(std::span<const char* const> arguments) {
    return std::any_of(arguments.begin(), arguments.end(), [](const char* argument) {
        return argument && std::string_view(argument) == "--snapshot";
    });
}

namespace {

// A failed write is left as it is: the command has nobody to report it to.
void writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written <= 0)
            return;
        bytes.remove_prefix(std::size_t(written));
    }
}

} // namespace

int runSnapshotCommand(const SnapshotSources& sources, int outputFd) {
    SensorSnapshot snapshot = collectSnapshot(sources);
    auto encoded = encodePrettySorted(snapshot);
    if (!encoded)
        return 1;
    encoded->push_back('\n');
    writeAll(outputFd, *encoded);
    return 0;
}

int runAgent(int argc, const char* const* argv, const SnapshotSources& sources) {
    if (wantsSnapshotCommand(std::span(argv, std::size_t(argc))))
        return runSnapshotCommand(sources, STDOUT_FILENO);
    return runServiceMode(sources);
}
