#include "Platform/linux/sensors/NvmlDevices.h"

#include <gtest/gtest.h>

// The fake library has two devices: the first fully busy at 64 degrees with one of its
// two fans answering, the second 20 % busy with an unreadable temperature and one fan.
TEST(NvmlDevices, EachPassAsksForItsOwnFiguresAndLeavesOutWhatFails) {
    auto utilization = readNvmlDevices(FAKE_NVML_LIBRARY, NvmlQuery::utilization);
    ASSERT_TRUE(utilization);
    ASSERT_EQ(utilization->size(), 2u);
    EXPECT_EQ((*utilization)[0].utilizationPercent, 100.0);
    EXPECT_EQ((*utilization)[1].utilizationPercent, 20.0);
    EXPECT_FALSE((*utilization)[0].temperatureCelsius);

    auto sensors = readNvmlDevices(FAKE_NVML_LIBRARY, NvmlQuery::sensors);
    ASSERT_TRUE(sensors);
    ASSERT_EQ(sensors->size(), 2u);
    EXPECT_EQ(std::tie((*sensors)[0].utilizationPercent, (*sensors)[0].temperatureCelsius,
                       (*sensors)[0].fanRPM),
              std::tuple(std::nullopt, 64u, std::vector<unsigned>{1450}));
    EXPECT_EQ(std::tie((*sensors)[1].temperatureCelsius, (*sensors)[1].fanRPM),
              std::tuple(std::nullopt, std::vector<unsigned>{900}));

    EXPECT_FALSE(readNvmlDevices("libnvidia-ml-absent.so.1", NvmlQuery::sensors));
}
