#include "Platform/linux/DrmStatistics.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;
using ::testing::UnorderedElementsAre;

namespace {

const std::string device = "Device Utilization %";

// A sysfs look-alike laid out as the kernel does it: the class directory holds links to
// the card directories, and each card's "device" links to its parent device.
class DrmTree : public ::testing::Test {
  protected:
    fs::path root = fs::temp_directory_path() /
                    ("drm-" + std::to_string(::getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::path classDir = root / "class" / "drm";

    void SetUp() override { fs::create_directories(classDir); }
    void TearDown() override { fs::remove_all(root); }

    // A DRM entry `name` on PCI device `pci`; busy, when given, is the text of the
    // device's gpu_busy_percent.
    void addEntry(const std::string& name, const std::string& pci,
                  std::optional<std::string> busy = std::nullopt) {
        fs::path pciDir = root / "devices" / pci;
        fs::create_directories(pciDir / "drm" / name);
        fs::create_directory_symlink(pciDir, pciDir / "drm" / name / "device");
        fs::create_directory_symlink(pciDir / "drm" / name, classDir / name);
        if (busy)
            std::ofstream(pciDir / "gpu_busy_percent") << *busy;
    }
};

} // namespace

TEST_F(DrmTree, ACardThatPublishesBusyGivesDeviceUtilization) {
    addEntry("card0", "0000:03:00.0", "37\n");
    EXPECT_EQ(drmStatistics(classDir), std::vector<GpuStatistics>({{{device, 37.0}}}));
}

TEST_F(DrmTree, EveryCardGivesOneDictionary) {
    addEntry("card0", "0000:00:02.0");
    addEntry("card1", "0000:03:00.0", "5\n");
    addEntry("card12", "0000:04:00.0", "90\n");
    auto cards = drmStatistics(classDir);
    ASSERT_TRUE(cards);
    EXPECT_THAT(*cards, UnorderedElementsAre(GpuStatistics{}, GpuStatistics{{device, 5.0}},
                                             GpuStatistics{{device, 90.0}}));
}

TEST_F(DrmTree, ConnectorsAndOtherEntriesAreNotCards) {
    addEntry("card0", "0000:03:00.0", "20\n");
    // Entries that are not cards, even with a busy figure behind them.
    for (const char* name :
         {"card0-HDMI-A-1", "card0-DP-2", "renderD128", "card", "cardA", "card1x", "controlD64"})
        addEntry(name, std::string("other-") + name, "99\n");
    std::ofstream(classDir / "version") << "drm 1.1.0 20060810\n";
    EXPECT_EQ(drmStatistics(classDir), std::vector<GpuStatistics>({{{device, 20.0}}}));
}

TEST_F(DrmTree, ACardWithoutAReadableNumberGivesADictionaryWithoutTheKey) {
    addEntry("card0", "0000:00:02.0");
    addEntry("card1", "0000:03:00.0", "busy\n");
    addEntry("card2", "0000:04:00.0", "");
    addEntry("card3", "0000:05:00.0", "42 %\n");
    fs::create_directory(classDir / "card4"); // no device at all
    EXPECT_EQ(drmStatistics(classDir), std::vector<GpuStatistics>(5));
}

TEST_F(DrmTree, AMissingClassDirectoryCannotBeListed) {
    EXPECT_EQ(drmStatistics(root / "absent"), std::nullopt);
    EXPECT_EQ(drmStatistics(classDir), std::vector<GpuStatistics>());
}
