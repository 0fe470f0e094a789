#include "Platform/linux/NvmlStatistics.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

using Devices = std::optional<std::vector<GpuStatistics>>;

// The fake reads its devices on each load, so a library left loaded would show the last.
TEST(NvmlStatistics, EachDeviceGivesItsUtilizationWhenItAnswersAndTheLibraryIsLetGo) {
    const std::string device = "Device Utilization %";
    const std::pair<const char*, Devices> cases[] = {
        {"35 lost 0", Devices({{{device, 35.0}}, {}, {{device, 0.0}}})},
        {"noinit 50", std::nullopt},
        {"nocount 50", std::nullopt},
        {"", std::vector<GpuStatistics>()},
    };
    for (const auto& [gpus, expected] : cases) {
        ::setenv("FAKE_NVML_GPUS", gpus, 1);
        EXPECT_EQ(nvmlStatistics(FAKE_NVML_PATH), expected) << gpus;
        EXPECT_EQ(::dlopen(FAKE_NVML_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr) << "still loaded";
    }
    ::unsetenv("FAKE_NVML_GPUS");
    EXPECT_EQ(nvmlStatistics("/nonexistent/libnvidia-ml.so.1"), std::nullopt);
    EXPECT_EQ(nvmlStatistics("libm.so.6"), std::nullopt); // without the functions
}
