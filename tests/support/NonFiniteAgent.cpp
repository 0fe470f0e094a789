// The real agent entry with one reading that can never be encoded.
#include "Agent/AgentMain.h"

#include <limits>

int main(int argc, char** argv) {
    SnapshotSources sources = liveSources();
    sources.processorName = [] { return std::optional<std::string>("Probe CPU"); };
    sources.gpuUtilization = [] {
        return std::optional<GPUReading>(
            GPUReading{std::numeric_limits<double>::quiet_NaN(), std::nullopt, std::nullopt});
    };
    return runAgent(argc, argv, sources);
}
