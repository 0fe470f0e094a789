#include "NvmlDevices.h"

#include <cstdlib>
#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <unistd.h>

namespace {

// The few parts of NVIDIA's management library used here, declared from its published
// interface so that building needs nothing of NVIDIA's.
using NvmlReturn = int;               // nvmlReturn_t, a C enumeration
constexpr NvmlReturn nvmlSuccess = 0; // NVML_SUCCESS
struct NvmlDeviceRecord;
using NvmlDevice = NvmlDeviceRecord*; // nvmlDevice_t, an opaque handle
struct NvmlUtilization {              // nvmlUtilization_t
    unsigned int gpu;                 // percent of time a kernel was running
    unsigned int memory;
};
constexpr int nvmlTemperatureGpu = 0; // NVML_TEMPERATURE_GPU, the die's sensor
struct NvmlFanSpeedInfo {             // nvmlFanSpeedInfo_v1_t
    unsigned int version;
    unsigned int fan;
    unsigned int speed; // rpm
};
// NVML_STRUCT_VERSION(FanSpeedInfo, 1): the structure's size and its version in the top byte.
constexpr unsigned int nvmlFanSpeedInfoV1 = sizeof(NvmlFanSpeedInfo) | (1u << 24);

struct NvmlFunctions {
    NvmlReturn (*init)();
    NvmlReturn (*shutdown)();
    NvmlReturn (*deviceCount)(unsigned int* count);
    NvmlReturn (*deviceByIndex)(unsigned int index, NvmlDevice* device);
    NvmlReturn (*utilizationRates)(NvmlDevice device, NvmlUtilization* utilization);
    NvmlReturn (*temperature)(NvmlDevice device, int sensor, unsigned int* celsius);
    NvmlReturn (*fanCount)(NvmlDevice device, unsigned int* count);
    NvmlReturn (*fanSpeedRPM)(NvmlDevice device, NvmlFanSpeedInfo* speed);

    [[nodiscard]] bool usable() const { return init && shutdown && deviceCount && deviceByIndex; }
};

template <typename Function> void resolve(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(library, name));
}

NvmlFunctions resolveFunctions(void* library) {
    NvmlFunctions nvml{};
    resolve(library, "nvmlInit_v2", nvml.init);
    resolve(library, "nvmlShutdown", nvml.shutdown);
    resolve(library, "nvmlDeviceGetCount_v2", nvml.deviceCount);
    resolve(library, "nvmlDeviceGetHandleByIndex_v2", nvml.deviceByIndex);
    resolve(library, "nvmlDeviceGetUtilizationRates", nvml.utilizationRates);
    resolve(library, "nvmlDeviceGetTemperature", nvml.temperature);
    resolve(library, "nvmlDeviceGetNumFans", nvml.fanCount);
    resolve(library, "nvmlDeviceGetFanSpeedRPM", nvml.fanSpeedRPM);
    return nvml;
}

std::optional<double> utilization(const NvmlFunctions& nvml, NvmlDevice device) {
    NvmlUtilization rates{};
    if (!nvml.utilizationRates || nvml.utilizationRates(device, &rates) != nvmlSuccess)
        return std::nullopt;
    return double(rates.gpu);
}

std::optional<unsigned> temperature(const NvmlFunctions& nvml, NvmlDevice device) {
    unsigned int celsius = 0;
    if (!nvml.temperature || nvml.temperature(device, nvmlTemperatureGpu, &celsius) != nvmlSuccess)
        return std::nullopt;
    return celsius;
}

// Only drivers that count fans give their speeds in rpm; others give a percentage of
// the fan's range, which says nothing of its speed.
std::vector<unsigned> fanSpeeds(const NvmlFunctions& nvml, NvmlDevice device) {
    std::vector<unsigned> speeds;
    unsigned int count = 0;
    if (!nvml.fanCount || !nvml.fanSpeedRPM || nvml.fanCount(device, &count) != nvmlSuccess)
        return speeds;
    for (unsigned int fan = 0; fan < count; ++fan) {
        NvmlFanSpeedInfo info{nvmlFanSpeedInfoV1, fan, 0};
        if (nvml.fanSpeedRPM(device, &info) == nvmlSuccess)
            speeds.push_back(info.speed);
    }
    return speeds;
}

NvmlDeviceReadings readDevice(const NvmlFunctions& nvml, unsigned int index, NvmlQuery query) {
    NvmlDevice device = nullptr;
    if (nvml.deviceByIndex(index, &device) != nvmlSuccess)
        return {};
    if (query == NvmlQuery::utilization)
        return {utilization(nvml, device), std::nullopt, {}};
    return {std::nullopt, temperature(nvml, device), fanSpeeds(nvml, device)};
}

// A library the loader cannot find will not appear while the process runs; its search,
// dozens of failed look-ups, is made once.
void* load(const char* library) {
    static std::mutex mutex;
    static std::set<std::string, std::less<>> missing;
    std::lock_guard lock(mutex);
    if (missing.contains(library))
        return nullptr;
    void* loaded = ::dlopen(library, RTLD_NOW | RTLD_LOCAL);
    if (!loaded)
        missing.emplace(library);
    return loaded;
}

// Without NVIDIA's kernel driver its library can only fail to start, and the loader's
// search for it costs dozens of failed look-ups. Folders given to the loader by the
// environment may hold a library of their own, so those are searched all the same.
[[nodiscard]] bool mayHaveNvidiaLibrary() {
    const char* searchPath = std::getenv("LD_LIBRARY_PATH");
    return ::access("/proc/driver/nvidia", F_OK) == 0 || (searchPath && *searchPath);
}

} // namespace

Result<std::vector<NvmlDeviceReadings>> readNvmlDevices(const char* library, NvmlQuery query) {
    std::unique_ptr<void, int (*)(void*)> loaded(load(library), ::dlclose);
    if (!loaded)
        return Failure{};
    NvmlFunctions nvml = resolveFunctions(loaded.get());
    if (!nvml.usable() || nvml.init() != nvmlSuccess)
        return Failure{};
    unsigned int count = 0;
    bool counted = nvml.deviceCount(&count) == nvmlSuccess;
    std::vector<NvmlDeviceReadings> devices;
    for (unsigned int index = 0; counted && index < count; ++index)
        devices.push_back(readDevice(nvml, index, query));
    nvml.shutdown();
    if (!counted)
        return Failure{};
    return devices;
}

Result<std::vector<NvmlDeviceReadings>> readSystemNvmlDevices(NvmlQuery query) {
    if (!mayHaveNvidiaLibrary())
        return Failure{ENOENT};
    return readNvmlDevices("libnvidia-ml.so.1", query);
}
