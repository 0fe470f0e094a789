#include "Agent/GPUUtilization.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

const std::string device = "Device Utilization %";
const std::string activity = "GPU Activity(%)";
const std::string renderer = "Renderer Utilization %";
const std::string tiler = "Tiler Utilization %";

} // namespace

TEST(GPUUtilization, BusiestCountingValuesClampedToPercent) {
    struct Case {
        const char* rule;
        std::optional<std::vector<GpuStatistics>> gpus;
        std::optional<GPUReading> expected;
    } cases[] = {
        {"GPUs not listed", std::nullopt, std::nullopt},
        {"GPUs without figures", {{{}, {}}}, std::nullopt},
        {"device key alone", {{{{device, 37.0}}}}, GPUReading{37, {}, {}}},
        {"activity stands in", {{{{activity, 12.0}}}}, GPUReading{12, {}, {}}},
        {"activity ignored", {{{{device, 0.0}, {activity, 90.0}}}}, GPUReading{0, {}, {}}},
        {"text device falls back", {{{{device, "55"}, {activity, 12.0}}}}, GPUReading{12, {}, {}}},
        {"NaN device falls back", {{{{device, NAN}, {activity, 12.0}}}}, GPUReading{12, {}, {}}},
        {"renderer without device", {{{{renderer, 40.0}, {tiler, 30.0}}}}, std::nullopt},
        {"texts only", {{{{device, "37"}, {activity, "12"}, {renderer, 40.0}}}}, std::nullopt},
        {"maximum", {{{{device, 10.0}}, {{device, 55.0}}}}, GPUReading{55, {}, {}}},
        {"maximum first", {{{{device, 55.0}}, {{device, 10.0}}}}, GPUReading{55, {}, {}}},
        {"each its own maximum",
         {{{{device, 80.0}, {renderer, 10.0}, {tiler, INFINITY}},
           {{device, 20.0}, {renderer, 60.0}, {tiler, "9"}},
           {{activity, 90.0}, {tiler, 25.5}}}},
         GPUReading{90, 60, 25.5}},
        {"clamped high", {{{{device, 130.0}, {renderer, 150.0}}}}, GPUReading{100, 100, {}}},
        {"clamped low", {{{{device, -5.0}, {tiler, -1.0}}}}, GPUReading{0, {}, 0}},
        {"not rounded", {{{{device, 0.25}, {tiler, 99.99}}}}, GPUReading{0.25, {}, 99.99}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(readGPUUtilization(c.gpus), c.expected) << c.rule;

    // JSON would keep the sign of a negative zero.
    auto zero = readGPUUtilization(std::vector<GpuStatistics>{{{device, -0.0}, {renderer, -0.0}}});
    ASSERT_TRUE(zero && zero->rendererPercent);
    EXPECT_FALSE(std::signbit(zero->utilizationPercent) || std::signbit(*zero->rendererPercent));
}
