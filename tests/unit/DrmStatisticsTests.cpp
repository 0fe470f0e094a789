#include "Platform/linux/DrmStatistics.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

// A sysfs look-alike laid out as the kernel does it: the class directory holds links to
// the card directories, and each card's "device" links to its parent device.
TEST(DrmStatistics, OneDictionaryPerCardWithItsBusyFigure) {
    fs::path root = fs::temp_directory_path() / ("drm-" + std::to_string(::getpid()));
    fs::path classDir = root / "class/drm";
    fs::create_directories(classDir);
    EXPECT_EQ(drmStatistics(root / "absent"), std::nullopt);
    EXPECT_EQ(drmStatistics(classDir), std::vector<GpuStatistics>());

    // Each entry with the text of its device's gpu_busy_percent; "" for none.
    std::pair<const char*, const char*> entries[] = {
        {"card0", ""},          {"card1", "5\n"},    {"card12", "90\n"},
        {"card3", "busy\n"},    {"card4", "42 %\n"}, {"card0-HDMI-A-1", "99\n"},
        {"renderD128", "99\n"}, {"card", "99\n"},    {"card1x", "99\n"},
    };
    for (auto [name, busy] : entries) {
        fs::path device = root / "devices" / name;
        fs::create_directories(device / "drm" / name);
        fs::create_directory_symlink(device, device / "drm" / name / "device");
        fs::create_directory_symlink(device / "drm" / name, classDir / name);
        if (*busy)
            std::ofstream(device / "gpu_busy_percent") << busy;
    }

    auto cards = drmStatistics(classDir);
    fs::remove_all(root);
    ASSERT_TRUE(cards);
    const std::string device = "Device Utilization %";
    EXPECT_THAT(*cards, ::testing::UnorderedElementsAre(
                            GpuStatistics{}, GpuStatistics{{device, 5.0}},
                            GpuStatistics{{device, 90.0}}, GpuStatistics{}, GpuStatistics{}));
}
