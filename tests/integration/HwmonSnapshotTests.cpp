// The shipped agent reads the kernel's /sys/class/hwmon. Each test shows it a tree of
// its own there, inside a private mount namespace, so the machine's sensors play no part.
#include "Shared/SnapshotJSON.h"
#include "support/ChildProcess.h"
#include "support/FakeHwmon.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class AgentOnHwmon : public ::testing::Test {
  protected:
    FakeHwmon tree{fs::temp_directory_path() /
                   ("agent-hwmon-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name())};

    // Runs `--snapshot` with the tree's class/ and devices/ in place of /sys's, so the
    // links in class/hwmon/ resolve as they do on a real machine.
    ChildResult snapshotCommand() {
        std::vector<std::string> arguments{"unshare", "--mount"};
        if (::geteuid() != 0)
            arguments.push_back("--map-root-user");
        for (const char* word : {"sh", "-c",
                                 "mount --bind \"$0/class\" /sys/class && "
                                 "mount --bind \"$0/devices\" /sys/devices && "
                                 "exec \"$1\" --snapshot"})
            arguments.emplace_back(word);
        arguments.push_back(tree.root.string());
        arguments.push_back(AGENT_PATH);
        return runChild(UNSHARE_PATH, arguments);
    }
};

} // namespace

TEST_F(AgentOnHwmon, ReadsTemperaturesAndFansFromTheKernelsHwmonClass) {
    fs::path cpu = tree.addChip(0, "pci0000:00/0000:00:18.3", "k10temp");
    FakeHwmon::attribute(cpu, "temp1_label", "Tctl");
    FakeHwmon::attribute(cpu, "temp1_input", "45000");
    fs::path board = tree.addChip(1, "platform/nct6775.656", "nct6798");
    FakeHwmon::attribute(board, "fan1_input", "1200");
    FakeHwmon::attribute(board, "fan1_min", "400");
    FakeHwmon::attribute(board, "fan2_input", "nonsense");

    ChildResult run = snapshotCommand();
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    auto snapshot = decodeSnapshot(run.out);
    ASSERT_TRUE(snapshot) << run.out;
    EXPECT_EQ(snapshot->fanCount, 2);
    EXPECT_EQ(snapshot->fans, (std::vector<FanReading>{{0, 1200, 400, std::nullopt}}));
    // The package stands in for the CPU whenever the Intel lists apply.
    bool intelLists = snapshot->processorName && !snapshot->processorName->starts_with("Apple ");
    EXPECT_EQ(snapshot->cpuTemperatureCelsius, intelLists ? std::optional(45.0) : std::nullopt);
    EXPECT_EQ(snapshot->gpuTemperatureCelsius, std::nullopt);
}

TEST_F(AgentOnHwmon, WithoutChipsThereAreNoSmcReadings) {
    ChildResult run = snapshotCommand();
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    auto snapshot = decodeSnapshot(run.out);
    ASSERT_TRUE(snapshot) << run.out;
    EXPECT_EQ(snapshot->fanCount, std::nullopt);
    EXPECT_TRUE(snapshot->fans.empty());
    EXPECT_EQ(snapshot->cpuTemperatureCelsius, std::nullopt);
    EXPECT_EQ(snapshot->gpuTemperatureCelsius, std::nullopt);
    EXPECT_EQ(run.out.find("fanCount"), std::string::npos);
}
