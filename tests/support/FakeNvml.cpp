// Stands in for NVIDIA's management library: the functions the agent resolves, with the
// real library's C signatures, and one device, fully busy.
#include <cstdlib>

static int initialisations = 0; // as the real library counts nested inits

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
    utilization[0] = 100; // gpu, then memory
    return 0;
}
}
