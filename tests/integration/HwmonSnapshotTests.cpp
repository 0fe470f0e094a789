// The shipped agent reads the kernel's /sys/class/hwmon. The test, as root, shows it a tree
// of its own at /sys inside a private mount namespace, so the machine's sensors play no
// part. Only /sys is made private there: "/" need not be a mount point (chroots).
#include "Shared/SnapshotJSON.h"
#include "support/FakeHwmon.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

TEST(AgentOnHwmon, ReadsTemperaturesAndFansFromTheKernelsHwmonClass) {
    FakeHwmon tree;
    tree.addChip(0, "pci0000:00/0000:00:18.3",
                 {"name=k10temp", "temp1_label=Tctl", "temp1_input=45000"});
    tree.addChip(1, "platform/nct6775.656",
                 {"name=nct6798", "fan1_input=1200", "fan1_min=400", "fan2_input=nonsense"});
    ChildResult run = runChild(
        UNSHARE_PATH,
        {"unshare", "--mount", "--propagation", "unchanged", "sh", "-c",
         "mount --make-rprivate /sys && mount --bind \"$0\" /sys && exec \"$1\" --snapshot",
         tree.root.string(), AGENT_PATH});
    auto snapshot = decodeSnapshot(run.out);
    ASSERT_TRUE(snapshot) << run.err;
    // The package stands in for the CPU whenever the Intel lists apply.
    bool intelLists = snapshot->processorName && !snapshot->processorName->starts_with("Apple ");
    EXPECT_EQ(std::tuple(snapshot->fanCount, snapshot->fans, snapshot->cpuTemperatureCelsius),
              std::tuple(2, std::vector<FanReading>{{0, 1200, 400, std::nullopt}},
                         intelLists ? std::optional(45.0) : std::nullopt));
}
