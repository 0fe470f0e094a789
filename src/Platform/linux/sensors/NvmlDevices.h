#pragma once

#include "../system/Result.h"

#include <optional>
#include <vector>

// What NVIDIA's management library tells of one device. A device that cannot be opened
// or will not answer (no permission, fallen off the bus) is still a GPU, only one
// without figures.
struct NvmlDeviceReadings {
    std::optional<double> utilizationPercent;
    std::optional<unsigned> temperatureCelsius; // the GPU's own sensor
    std::vector<unsigned> fanRPM;               // the fans that answered, in the driver's order
};

// Which figures to ask for: a snapshot wants the utilisation with the other GPUs'
// statistics and the sensors with the other chips', so each pass asks only its own.
enum class NvmlQuery { utilization, sensors };

// NVIDIA GPUs through the management library loaded from `library` at run time: one entry
// per device. A failure when the library cannot be loaded or initialised or will not count
// its devices. Functions that older drivers lack leave their figures absent. The library
// is shut down and unloaded before returning; one the loader could not find is not
// looked for again.
Result<std::vector<NvmlDeviceReadings>> readNvmlDevices(const char* library, NvmlQuery query);

// The same from this machine's driver, asked only where it may be installed.
Result<std::vector<NvmlDeviceReadings>> readSystemNvmlDevices(NvmlQuery query);
