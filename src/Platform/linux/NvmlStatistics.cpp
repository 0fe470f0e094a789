#include "NvmlStatistics.h"

#include <dlfcn.h>
#include <memory>
#include <mutex>
#include <set>
#include <string>

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

struct NvmlFunctions {
    NvmlReturn (*init)();
    NvmlReturn (*shutdown)();
    NvmlReturn (*deviceCount)(unsigned int* count);
    NvmlReturn (*deviceByIndex)(unsigned int index, NvmlDevice* device);
    NvmlReturn (*utilizationRates)(NvmlDevice device, NvmlUtilization* utilization);

    bool complete() const {
        return init && shutdown && deviceCount && deviceByIndex && utilizationRates;
    }
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
    return nvml;
}

// A device that cannot be opened or will not answer (no permission, fallen off the bus)
// is still a GPU, only one without statistics.
GpuStatistics deviceStatistics(const NvmlFunctions& nvml, unsigned int index) {
    NvmlDevice device = nullptr;
    NvmlUtilization utilization{};
    if (nvml.deviceByIndex(index, &device) != nvmlSuccess ||
        nvml.utilizationRates(device, &utilization) != nvmlSuccess)
        return {};
    return {{deviceUtilizationKey, double(utilization.gpu)}};
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

} // namespace

std::optional<std::vector<GpuStatistics>> nvmlStatistics(const char* library) {
    std::unique_ptr<void, int (*)(void*)> loaded(load(library), ::dlclose);
    if (!loaded)
        return std::nullopt;
    NvmlFunctions nvml = resolveFunctions(loaded.get());
    if (!nvml.complete() || nvml.init() != nvmlSuccess)
        return std::nullopt;
    std::optional<std::vector<GpuStatistics>> devices;
    unsigned int count = 0;
    if (nvml.deviceCount(&count) == nvmlSuccess) {
        devices.emplace();
        for (unsigned int index = 0; index < count; ++index)
            devices->push_back(deviceStatistics(nvml, index));
    }
    nvml.shutdown();
    return devices;
}
