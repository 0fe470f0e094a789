// Stands in for NVIDIA's management library: the functions the agent resolves, with the
// real library's C signatures, and one device as busy as FAKE_NVML_GPU_PERCENT says.
#include <cstdlib>

namespace {

int initialisations = 0; // as the real library counts nested inits

} // namespace

extern "C" {

// An init never shut down would leave the real library running after its user is done.
[[gnu::destructor]] static void checkShutDown() {
    if (initialisations != 0)
        std::abort();
}

int nvmlInit_v2() {
    ++initialisations;
    return 0; // NVML_SUCCESS
}

int nvmlShutdown() {
    --initialisations;
    return 0;
}

int nvmlDeviceGetCount_v2(unsigned int* count) {
    *count = 1;
    return 0;
}

int nvmlDeviceGetHandleByIndex_v2(unsigned int, void** device) {
    *device = nullptr;
    return 0;
}

int nvmlDeviceGetUtilizationRates(void*, unsigned int utilization[2]) {
    const char* percent = std::getenv("FAKE_NVML_GPU_PERCENT");
    utilization[0] = percent ? unsigned(std::atoi(percent)) : 0; // gpu, then memory
    return 0;
}
}
