// Stands in for NVIDIA's management library: the functions the agent resolves, with the
// real library's C signatures and return codes. Each load takes its devices from
// FAKE_NVML_GPUS: a busy percent per device, "lost" for one that does not answer, and
// "noinit" or "nocount" for a library whose init or device count fails. Plain C data only,
// so that the library really unloads on its last dlclose.
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Device {
    unsigned int gpuPercent;
    int queryResult;
};

Device devices[8];
unsigned int deviceCount = 0;
int initResult = 0, countResult = 0; // NVML_SUCCESS
int initialisations = 0;             // as the real library counts nested inits

} // namespace

extern "C" {

[[gnu::constructor]] static void readDevices() {
    const char* text = std::getenv("FAKE_NVML_GPUS");
    char word[16];
    int used = 0;
    while (text && deviceCount < 8 && std::sscanf(text, "%15s%n", word, &used) == 1) {
        text += used;
        if (std::strcmp(word, "noinit") == 0)
            initResult = 9; // NVML_ERROR_DRIVER_NOT_LOADED
        else if (std::strcmp(word, "nocount") == 0)
            countResult = 999; // NVML_ERROR_UNKNOWN
        else                   // NVML_ERROR_GPU_IS_LOST for one that does not answer
            devices[deviceCount++] = {unsigned(std::atoi(word)),
                                      std::strcmp(word, "lost") ? 0 : 15};
    }
}

// An init never shut down would leave the real library running after its user is done.
[[gnu::destructor]] static void checkShutDown() {
    if (initialisations != 0)
        std::abort();
}

int nvmlInit_v2() {
    initialisations += initResult == 0;
    return initResult;
}

int nvmlShutdown() {
    --initialisations;
    return 0;
}

int nvmlDeviceGetCount_v2(unsigned int* count) {
    *count = deviceCount;
    return countResult;
}

int nvmlDeviceGetHandleByIndex_v2(unsigned int index, Device** device) {
    *device = &devices[index];
    return 0;
}

int nvmlDeviceGetUtilizationRates(Device* device, unsigned int utilization[2]) {
    utilization[0] = device->gpuPercent; // gpu, then memory
    return device->queryResult;
}
}
