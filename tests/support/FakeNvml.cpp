// The functions the agent resolves, with the real library's C signatures, answering from
// a device table. Plain C data only, so that the library really unloads on its last dlclose.
#include "FakeNvml.h"

#include <cstdlib>

namespace {

struct Device {
    unsigned int gpuPercent;
    int queryResult;
};

Device devices[8];
unsigned int deviceCount = 0;
int initResult = fakeNvmlSuccess, countResult = fakeNvmlSuccess;
int initialisations = 0; // as the real library counts nested inits

} // namespace

extern "C" {

void fakeNvmlReset(int init, int count) {
    deviceCount = initialisations = 0;
    initResult = init;
    countResult = count;
}

void fakeNvmlAddDevice(unsigned int gpuPercent, int queryResult) {
    if (deviceCount < 8)
        devices[deviceCount++] = Device{gpuPercent, queryResult};
}

int fakeNvmlInitsLeft() {
    return initialisations;
}

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
    if (initialisations > 0 && countResult == fakeNvmlSuccess)
        *count = deviceCount;
    return initialisations > 0 ? countResult : fakeNvmlUninitialized;
}

int nvmlDeviceGetHandleByIndex_v2(unsigned int index, Device** device) {
    *device = &devices[index];
    return initialisations > 0 ? fakeNvmlSuccess : fakeNvmlUninitialized;
}

int nvmlDeviceGetUtilizationRates(Device* device, unsigned int utilization[2]) {
    if (initialisations <= 0)
        return fakeNvmlUninitialized;
    if (device->queryResult == fakeNvmlSuccess)
        utilization[0] = device->gpuPercent; // gpu, then memory
    return device->queryResult;
}
}
