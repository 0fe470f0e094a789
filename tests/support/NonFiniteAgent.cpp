// The real agent entry with a GPU reading that can never be encoded.
#include "Agent/AgentMain.h"

#include <cmath>

int main(int argc, char** argv) {
    SnapshotSources sources = liveSources();
    sources.gpuUtilization = [] { return std::optional<GPUReading>({NAN, {}, {}}); };
    return runAgent(argc, argv, sources);
}
