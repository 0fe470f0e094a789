#include "Platform/linux/DrmStatistics.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

// Each card of the class directory, not its connectors, with its device's busy figure.
TEST(DrmStatistics, OneDictionaryPerCardWithItsBusyFigure) {
    const fs::path root = fs::temp_directory_path() / ("drm-" + std::to_string(getpid()));
    EXPECT_EQ(drmStatistics(root), std::nullopt);
    for (auto [name, busy] : {std::pair("card0", ""),
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
    EXPECT_THAT(cards.value(),
                ::testing::UnorderedElementsAre(GpuStatistics{}, GpuStatistics{},
                                                GpuStatistics{{"Device Utilization %", 90.0}}));
}
