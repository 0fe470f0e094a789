#include "Agent/GPUUtilization.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(GPUUtilization, BusiestCountingValueOfEachStatisticClampedToPercent) {
    const std::string device = "Device Utilization %", activity = "GPU Activity(%)",
                      renderer = "Renderer Utilization %", tiler = "Tiler Utilization %";
    const std::pair<std::optional<std::vector<GpuStatistics>>, std::optional<GPUReading>> cases[] =
        {
            {std::nullopt, std::nullopt},
            {{{{}, {}}}, std::nullopt},
            {{{{{device, 37.0}}}}, GPUReading{37, {}, {}}},
            {{{{{activity, 12.0}}}}, GPUReading{12, {}, {}}},
            {{{{{device, 0.0}, {activity, 90.0}}}}, GPUReading{0, {}, {}}},
            {{{{{device, "55"}, {activity, 12.0}}}}, GPUReading{12, {}, {}}},
            {{{{{device, NAN}, {activity, 12.0}}}}, GPUReading{12, {}, {}}},
            {{{{{renderer, 40.0}, {tiler, 30.0}}}}, std::nullopt},
            {{{{{device, 80.0}, {renderer, 10.0}, {tiler, INFINITY}},
               {{device, 20.0}, {renderer, 60.0}, {tiler, "9"}},
               {{activity, 90.0}, {tiler, 25.5}}}},
             GPUReading{90, 60, 25.5}},
            {{{{{device, 130.0}, {renderer, 150.0}}}}, GPUReading{100, 100, {}}},
            {{{{{device, -5.0}, {tiler, -1.0}}}}, GPUReading{0, {}, 0}},
        };
    for (std::size_t row = 0; row < std::size(cases); ++row)
        EXPECT_EQ(readGPUUtilization(cases[row].first), cases[row].second) << "row " << row;
}
