// A stand-in for NVIDIA's management library: the functions the agent resolves, with
// the documented C signatures, answering from a device table the tests fill in.
// Plain C data only, so that the library really unloads on its last dlclose.
#include "FakeNvml.h"

#include <cstdlib>
#include <iterator>

namespace {

struct Device {
    unsigned int gpuPercent;
    int queryResult;
};

struct Utilization {
    unsigned int gpu;
    unsigned int memory;
};

Device devices[8];
unsigned int deviceCount = 0;
int initResult = fakeNvmlSuccess;
int countResult = fakeNvmlSuccess;
int initialisations = 0; // inits less shutdowns, as the real library counts nested inits

} // namespace

extern "C" {

void fakeNvmlReset(int init, int count) {
    deviceCount = 0;
    initResult = init;
    countResult = count;
    initialisations = 0;
}

void fakeNvmlAddDevice(unsigned int gpuPercent, int queryResult) {
    if (deviceCount < std::size(devices))
        devices[deviceCount++] = Device{gpuPercent, queryResult};
}

int fakeNvmlInitsLeft() {
    return initialisations;
}

// A whole agent process can be given a device too: FAKE_NVML_GPU_PERCENT=100.
[[gnu::constructor]] static void addDeviceFromEnvironment() {
    if (const char* percent = std::getenv("FAKE_NVML_GPU_PERCENT"))
        fakeNvmlAddDevice(unsigned(std::atoi(percent)), fakeNvmlSuccess);
}

int nvmlInit_v2() {
    initialisations += initResult == fakeNvmlSuccess;
    return initResult;
}

int nvmlShutdown() {
    return --initialisations < 0 ? fakeNvmlUninitialized : fakeNvmlSuccess;
}

int nvmlDeviceGetCount_v2(unsigned int* count) {
    if (initialisations <= 0)
        return fakeNvmlUninitialized;
    if (countResult == fakeNvmlSuccess)
        *count = deviceCount;
    return countResult;
}

int nvmlDeviceGetHandleByIndex_v2(unsigned int index, Device** device) {
    if (initialisations <= 0)
        return fakeNvmlUninitialized;
    *device = &devices[index];
    return fakeNvmlSuccess;
}

int nvmlDeviceGetUtilizationRates(Device* device, Utilization* utilization) {
    if (initialisations <= 0)
        return fakeNvmlUninitialized;
    if (device->queryResult == fakeNvmlSuccess)
        *utilization = Utilization{device->gpuPercent, 0};
    return device->queryResult;
}
}
