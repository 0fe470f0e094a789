#include "HwmonRoles.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace {

using Label = std::optional<std::string>;
using Rank = std::optional<int>;

[[nodiscard]] bool labelStarts(const Label& label, std::string_view prefix) {
    return label && label->starts_with(prefix);
}

// coretemp: the package's own sensor ("Package id N", "Physical id N" before 3.x kernels),
// else the hottest core; cores only on processors older than Sandy Bridge.
Rank coretemp(unsigned, const Label& label) {
    if (labelStarts(label, "Package id ") || labelStarts(label, "Physical id "))
        return 0;
    if (!label || labelStarts(label, "Core "))
        return 1;
    return std::nullopt;
}

// k10temp and zenpower: Tdie is the die's temperature; Tctl, the control value, may carry
// a fixed offset above it, and stands in where the driver gives no Tdie. Kernels before
// 4.16, and all kernels for processors before Zen, write temp1 alone, unlabelled. The
// Tccd inputs are single core complexes, not the die.
Rank amdProcessor(unsigned number, const Label& label) {
    if (label == "Tdie")
        return 0;
    if (label == "Tctl" || (!label && number == 1))
        return 1;
    return std::nullopt;
}

// Every input is one of the processor's cores (k8temp, via_cputemp) or the only one.
Rank everyInput(unsigned, const Label&) {
    return 0;
}

// amdgpu: "edge" is the GPU's temperature (temp1, unlabelled before 5.x kernels);
// "junction", its hottest spot, stands in; "mem" is the memory's.
Rank amdgpu(unsigned number, const Label& label) {
    if (label == "edge" || (!label && number == 1))
        return 0;
    if (label == "junction")
        return 1;
    return std::nullopt;
}

// xe: temp2 is the package, temp3 the video memory.
Rank xe(unsigned number, const Label& label) {
    if (label == "pkg" || (!label && number == 2))
        return 0;
    return std::nullopt;
}

// Server SoCs that report one SoC temperature beside power and energy figures.
Rank socTemperature(unsigned, const Label& label) {
    if (labelStarts(label, "SoC Temp"))
        return 0;
    return std::nullopt;
}

struct Driver {
    std::string_view name;
    SensedPart part;
    Rank (*rank)(unsigned number, const Label& label);
};

constexpr std::array drivers{
    Driver{"coretemp", SensedPart::processor, coretemp},
    Driver{"k10temp", SensedPart::processor, amdProcessor},
    Driver{"zenpower", SensedPart::processor, amdProcessor},
    Driver{"k8temp", SensedPart::processor, everyInput},
    Driver{"via_cputemp", SensedPart::processor, everyInput},
    Driver{"apm_xgene", SensedPart::processor, socTemperature},
    Driver{"altra_hwmon", SensedPart::processor, socTemperature},
    Driver{"amdgpu", SensedPart::graphics, amdgpu},
    Driver{"radeon", SensedPart::graphics, everyInput},
    Driver{"nouveau", SensedPart::graphics, everyInput},
    Driver{"xe", SensedPart::graphics, xe},
};

const Driver* driverNamed(std::string_view chip) {
    auto found = std::find_if(drivers.begin(), drivers.end(),
                              [chip](const Driver& driver) { return driver.name == chip; });
    return found == drivers.end() ? nullptr : &*found;
}

// A thermal zone of a device tree or platform shows in hwmon under the zone's type, with
// '-' made '_': "cpu_thermal", "bigcore0_thermal", "soc_thermal", "gpu_thermal", or
// "CPU_therm" on Tegra. Its one input is the zone's sensor. Zones of other parts (ddr,
// npu, a PMIC's) and ACPI's ("acpitz") say nothing of the processor or the GPU.
std::optional<SensedPart> thermalZonePart(std::string_view chip) {
    std::string name(chip);
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    std::replace(name.begin(), name.end(), '-', '_');
    std::string_view stem = name;
    if (stem.ends_with("_thermal"))
        stem.remove_suffix(8);
    else if (stem.ends_with("_therm"))
        stem.remove_suffix(6);
    else
        return std::nullopt;
    if (stem.starts_with("cpu") || stem.starts_with("soc") ||
        stem.find("core") != std::string_view::npos)
        return SensedPart::processor;
    if (stem.starts_with("gpu"))
        return SensedPart::graphics;
    return std::nullopt;
}

} // namespace

std::optional<SensedPart> sensedPart(std::string_view chip) {
    if (const Driver* driver = driverNamed(chip))
        return driver->part;
    return thermalZonePart(chip);
}

std::optional<int> temperatureRank(std::string_view chip, unsigned number, const Label& label) {
    if (const Driver* driver = driverNamed(chip))
        return driver->rank(number, label);
    return thermalZonePart(chip) ? Rank(0) : std::nullopt;
}
