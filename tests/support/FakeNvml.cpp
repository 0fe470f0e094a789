// Stands in for NVIDIA's management library: the functions the agent resolves, with the
// real library's C signatures, and two devices: the first fully busy at 64 degrees with
// one of its two fans answering, the second at 20 % whose temperature cannot be read.
#include <cstdlib>

namespace {

int initialisations = 0; // as the real library counts nested inits

constexpr int success = 0, notSupported = 3, invalidArgument = 2, versionMismatch = 25;

struct Device {
    unsigned int utilization;
    int temperatureResult;
    unsigned int temperature;
    unsigned int fanCount;
    int fanResults[2];
    unsigned int fanRPM[2];
};

Device devices[2] = {
    {100, success, 64, 2, {success, notSupported}, {1450, 0}},
    {20, notSupported, 0, 1, {success, success}, {900, 0}},
};

struct FanSpeedInfo {
    unsigned int version, fan, speed;
};

} // namespace

extern "C" {

// An init never shut down would leave the real library running after its user is done.
[[gnu::destructor]] static void checkShutDown() {
    if (initialisations != 0)
        std::abort();
}

int nvmlInit_v2() {
    ++initialisations;
    return success;
}

int nvmlShutdown() {
    --initialisations;
    return success;
}

int nvmlDeviceGetCount_v2(unsigned int* count) {
    *count = 2;
    return success;
}

int nvmlDeviceGetHandleByIndex_v2(unsigned int index, Device** device) {
    if (index >= 2)
        return invalidArgument;
    *device = &devices[index];
    return success;
}

int nvmlDeviceGetUtilizationRates(Device* device, unsigned int utilization[2]) {
    utilization[0] = device->utilization; // gpu, then memory
    utilization[1] = 0;
    return success;
}

int nvmlDeviceGetTemperature(Device* device, int sensor, unsigned int* celsius) {
    if (sensor != 0) // NVML_TEMPERATURE_GPU is the only sensor there is
        return invalidArgument;
    *celsius = device->temperature;
    return device->temperatureResult;
}

int nvmlDeviceGetNumFans(Device* device, unsigned int* count) {
    *count = device->fanCount;
    return success;
}

// The real library refuses a structure of another size or version.
int nvmlDeviceGetFanSpeedRPM(Device* device, FanSpeedInfo* info) {
    if (info->version != (sizeof(FanSpeedInfo) | 1u << 24))
        return versionMismatch;
    if (info->fan >= device->fanCount)
        return invalidArgument;
    info->speed = device->fanRPM[info->fan];
    return device->fanResults[info->fan];
}
}
