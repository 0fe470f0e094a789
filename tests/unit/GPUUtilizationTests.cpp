#include "Agent/GPUUtilization.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>

void PrintTo(const GPUReading& reading, std::ostream* out) {
    auto optional = [](std::optional<double> value) {
        return value ? std::to_string(*value) : std::string("absent");
    };
    *out << "{" << reading.utilizationPercent << ", renderer " << optional(reading.rendererPercent)
         << ", tiler " << optional(reading.tilerPercent) << "}";
}

namespace {

const std::string device = "Device Utilization %";
const std::string activity = "GPU Activity(%)";
const std::string renderer = "Renderer Utilization %";
const std::string tiler = "Tiler Utilization %";

constexpr double infinity = std::numeric_limits<double>::infinity();
constexpr double notANumber = std::numeric_limits<double>::quiet_NaN();

std::optional<GPUReading> readingOf(std::vector<GpuStatistics> gpus) {
    return readGPUUtilization(std::optional(std::move(gpus)));
}

GPUReading overall(double percent, std::optional<double> rendererPercent = std::nullopt,
                   std::optional<double> tilerPercent = std::nullopt) {
    return GPUReading{percent, rendererPercent, tilerPercent};
}

} // namespace

TEST(GPUUtilizationSources, NoReadingWhenTheGPUsCannotBeListedOrThereAreNone) {
    EXPECT_EQ(readGPUUtilization(std::nullopt), std::nullopt);
    EXPECT_EQ(readingOf({}), std::nullopt);
    EXPECT_EQ(readingOf({{}, {}}), std::nullopt);
}

TEST(GPUUtilizationSources, OneGPUWithOnlyTheDeviceKey) {
    EXPECT_EQ(readingOf({{{device, 37.0}}}), overall(37.0));
}

TEST(GPUUtilizationFallback, ActivityStandsInForAMissingDeviceKey) {
    EXPECT_EQ(readingOf({{{activity, 12.0}}}), overall(12.0));
}

TEST(GPUUtilizationFallback, ActivityIsIgnoredWhenTheDeviceKeyCounts) {
    EXPECT_EQ(readingOf({{{device, 20.0}, {activity, 90.0}}}), overall(20.0));
    EXPECT_EQ(readingOf({{{device, 0.0}, {activity, 90.0}}}), overall(0.0));
}

TEST(GPUUtilizationFallback, ADeviceValueThatDoesNotCountFallsBack) {
    for (StatisticValue unusable :
         {StatisticValue("55"), StatisticValue(std::monostate()), StatisticValue(notANumber),
          StatisticValue(infinity), StatisticValue(-infinity)})
        EXPECT_EQ(readingOf({{{device, unusable}, {activity, 12.0}}}), overall(12.0))
            << "alternative " << unusable.index();
}

TEST(GPUUtilizationFallback, NoDeviceValueAnywhereMeansNoReading) {
    EXPECT_EQ(readingOf({{{renderer, 40.0}, {tiler, 30.0}}}), std::nullopt);
    EXPECT_EQ(readingOf({{{device, "37"}, {activity, "12"}, {renderer, 40.0}}}), std::nullopt);
    EXPECT_EQ(readingOf({{{device, notANumber}}, {{renderer, 40.0}}}), std::nullopt);
}

TEST(GPUUtilizationMaxima, TheBusiestGPUGivesTheDeviceValueInAnyOrder) {
    EXPECT_EQ(readingOf({{{device, 10.0}}, {{device, 55.0}}}), overall(55.0));
    EXPECT_EQ(readingOf({{{device, 55.0}}, {{device, 10.0}}}), overall(55.0));
    EXPECT_EQ(readingOf({{{device, 30.0}}, {{activity, 70.0}}, {}}), overall(70.0));
}

TEST(GPUUtilizationMaxima, EachStatisticTakesItsOwnMaximum) {
    auto reading = readingOf({
        {{device, 80.0}, {renderer, 10.0}},
        {{device, 20.0}, {renderer, 60.0}, {tiler, 5.0}},
        {{renderer, 45.0}, {tiler, 25.5}},
    });
    EXPECT_EQ(reading, overall(80.0, 60.0, 25.5));
}

TEST(GPUUtilizationMaxima, OptionalStatisticsOnlyFromValuesThatCount) {
    EXPECT_EQ(readingOf({{{device, 50.0}, {renderer, infinity}, {tiler, "9"}}}), overall(50.0));
    EXPECT_EQ(readingOf({{{device, 50.0}, {renderer, notANumber}}, {{renderer, 40.0}}}),
              overall(50.0, 40.0));
}

TEST(GPUUtilizationClamping, ValuesAreClampedToPercentWithoutRounding) {
    EXPECT_EQ(readingOf({{{device, 130.0}}}), overall(100.0));
    EXPECT_EQ(readingOf({{{device, -5.0}}}), overall(0.0));
    EXPECT_EQ(readingOf({{{device, 100.0}, {renderer, 0.25}, {tiler, 99.99}}}),
              overall(100.0, 0.25, 99.99));
    EXPECT_EQ(readingOf({{{device, 1.0}, {renderer, 150.0}, {tiler, -1.0}}}),
              overall(1.0, 100.0, 0.0));
}

TEST(GPUUtilizationClamping, NegativeZeroBecomesPlainZero) {
    auto reading = readingOf({{{device, -0.0}, {renderer, -0.0}}});
    ASSERT_TRUE(reading && reading->rendererPercent);
    EXPECT_FALSE(std::signbit(reading->utilizationPercent));
    EXPECT_FALSE(std::signbit(*reading->rendererPercent));
}
