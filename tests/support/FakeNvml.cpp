// A stand-in for NVIDIA's management library: the functions the agent resolves, with
// the documented C signatures, answering from a device table the tests fill in.
// Plain C data only, so that the library really unloads on its last dlclose.
#include "FakeNvml.h"

#include <cstdlib>

namespace {

struct Device {
    unsigned int gpuPercent;
    int handleResult;
    int queryResult;
};

struct Utilization {
    unsigned int gpu;
    unsigned int memory;
};

constexpr unsigned int deviceCapacity = 8;
Device devices[deviceCapacity];
unsigned int deviceCount = 0;
int initResult = fakeNvmlSuccess;
int countResult = fakeNvmlSuccess;
int initCalls = 0;
int shutdownCalls = 0;
int callsWhileDown = 0;
int initialisations = 0; // the real library counts nested inits the same way

bool up() {
    if (initialisations > 0)
        return true;
    ++callsWhileDown;
    return false;
}

} // namespace

extern "C" {

// A whole agent process can be given devices too: FAKE_NVML_GPU_PERCENTS="20,100".
[[gnu::constructor]] static void addDevicesFromEnvironment() {
    const char* percents = std::getenv("FAKE_NVML_GPU_PERCENTS");
    while (percents && *percents) {
        char* end = nullptr;
        unsigned long percent = std::strtoul(percents, &end, 10);
        if (end == percents)
            return;
        fakeNvmlAddDevice(static_cast<unsigned int>(percent), fakeNvmlSuccess, fakeNvmlSuccess);
        percents = *end == ',' ? end + 1 : end;
    }
}

void fakeNvmlReset(int init, int count) {
    deviceCount = 0;
    initResult = init;
    countResult = count;
    initCalls = shutdownCalls = callsWhileDown = initialisations = 0;
}

void fakeNvmlAddDevice(unsigned int gpuPercent, int handleResult, int queryResult) {
    if (deviceCount < deviceCapacity)
        devices[deviceCount++] = Device{gpuPercent, handleResult, queryResult};
}

int fakeNvmlInitCalls() {
    return initCalls;
}
int fakeNvmlShutdownCalls() {
    return shutdownCalls;
}
int fakeNvmlCallsWhileDown() {
    return callsWhileDown;
}

int nvmlInit_v2() {
    ++initCalls;
    if (initResult == fakeNvmlSuccess)
        ++initialisations;
    return initResult;
}

int nvmlShutdown() {
    ++shutdownCalls;
    if (!up())
        return fakeNvmlUninitialized;
    --initialisations;
    return fakeNvmlSuccess;
}

int nvmlDeviceGetCount_v2(unsigned int* count) {
    if (!up())
        return fakeNvmlUninitialized;
    if (countResult == fakeNvmlSuccess)
        *count = deviceCount;
    return countResult;
}

int nvmlDeviceGetHandleByIndex_v2(unsigned int index, Device** device) {
    if (!up())
        return fakeNvmlUninitialized;
    if (index >= deviceCount)
        return fakeNvmlUnknown;
    if (devices[index].handleResult != fakeNvmlSuccess)
        return devices[index].handleResult;
    *device = &devices[index];
    return fakeNvmlSuccess;
}

int nvmlDeviceGetUtilizationRates(Device* device, Utilization* utilization) {
    if (!up())
        return fakeNvmlUninitialized;
    if (device < devices || device >= devices + deviceCount)
        return fakeNvmlUnknown;
    if (device->queryResult == fakeNvmlSuccess)
        *utilization = Utilization{device->gpuPercent, 0};
    return device->queryResult;
}
}
