// The shipped agent reads the kernel's /sys/class/hwmon. The test, as root, shows it a tree
// of its own at /sys inside a private mount namespace, so the machine's sensors play no
// part. Only /sys is made private there: "/" need not be a mount point (chroots).
#include "Shared/SnapshotJSON.h"
#include "support/FakeHwmon.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

namespace {

std::optional<SensorSnapshot> snapshotOn(const FakeHwmon& tree) {
    ChildResult run = runChild(
        UNSHARE_PATH,
        {"unshare", "--mount", "--propagation", "unchanged", "sh", "-c",
         "mount --make-rprivate /sys && mount --bind \"$0\" /sys && exec \"$1\" --snapshot",
         tree.root.string(), AGENT_PATH});
    EXPECT_EQ(run.exitStatus, 0) << run.err;
    return decodeSnapshot(run.out);
}

} // namespace

TEST(AgentOnHwmon, ReadsTemperaturesAndFansFromTheKernelsHwmonClass) {
    FakeHwmon tree;
    EXPECT_EQ(snapshotOn(tree).value().fanCount, std::nullopt); // no chip, no SMC
    tree.addChip(0, "pci0000:00/0000:00:18.3",
                 {"name=k10temp", "temp1_label=Tctl", "temp1_input=45000"});
    tree.addChip(1, "platform/nct6775.656",
                 {"name=nct6798", "fan1_input=1200", "fan1_min=400", "fan2_input=nonsense"});
    auto snapshot = snapshotOn(tree);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->fanCount, 2);
    EXPECT_EQ(snapshot->fans, (std::vector<FanReading>{{0, 1200, 400, std::nullopt}}));
    // The package stands in for the CPU whenever the Intel lists apply.
    bool intelLists = snapshot->processorName && !snapshot->processorName->starts_with("Apple ");
    EXPECT_EQ(snapshot->cpuTemperatureCelsius, intelLists ? std::optional(45.0) : std::nullopt);
    EXPECT_EQ(snapshot->gpuTemperatureCelsius, std::nullopt);
}
