#include "Platform/linux/DrmStatistics.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

TEST(DrmStatistics, OneDictionaryPerCardWithItsBusyFigure) {
    const fs::path root = fs::temp_directory_path() / ("drm-" + std::to_string(getpid()));
    EXPECT_EQ(drmStatistics(root), std::nullopt);
    // Each entry of the class directory with its device's gpu_busy_percent; "" for none.
    for (auto [name, busy] : {std::pair("card0", ""),
                              {"card1", "5\n"},
                              {"card12", "90\n"},
                              {"card3", "42 %\n"},
                              {"card0-HDMI-A-1", "99\n"},
                              {"renderD128", "99\n"},
                              {"card", "99\n"}}) {
        fs::create_directories(root / name / "device");
        if (*busy)
            std::ofstream(root / name / "device/gpu_busy_percent") << busy;
    }
    auto cards = drmStatistics(root);
    fs::remove_all(root);
    const std::string device = "Device Utilization %";
    EXPECT_THAT(cards.value(),
                ::testing::UnorderedElementsAre(GpuStatistics{}, GpuStatistics{{device, 5.0}},
                                                GpuStatistics{{device, 90.0}}, GpuStatistics{}));
}
