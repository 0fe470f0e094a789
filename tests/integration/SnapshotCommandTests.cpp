#include "Shared/SnapshotJSON.h"
#include "support/FakeHwmon.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

#include <ctime>

// Selected by the exact argument anywhere among others, the command prints one object and
// a line feed, or nothing when the snapshot cannot be encoded.
TEST(SnapshotCommand, PrintsOneObjectAndALineFeedOrNothingWhenItCannotBeEncoded) {
    // The fake library under NVIDIA's file name, found by the loader the way the real one is.
    ::setenv("LD_LIBRARY_PATH", FAKE_NVML_DIR, 1);
    ChildResult run = runChild(AGENT_PATH, {"first", "--snapshot", "last"});
    ::unsetenv("LD_LIBRARY_PATH");
    EXPECT_EQ(std::tuple(run.exitStatus, run.err), std::tuple(0, "")) << run.err;
    EXPECT_TRUE(run.out.ends_with("}\n")) << run.out;
    auto snapshot = decodeSnapshot(run.out); // which takes one whole object, nothing after it
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(std::tuple(snapshot->pluginVersion, snapshot->pluginBuild),
              std::tuple(PLUGIN_VERSION, PLUGIN_BUILD));
    EXPECT_NEAR(snapshot->timestamp, double(std::time(nullptr)) - 978307200.0, 5.0); // from 2001
    // No real GPU is busier than 100 %, so this is the fake's reading whatever else is here.
    EXPECT_EQ(snapshot->gpu, GPUReading({100.0, std::nullopt, std::nullopt}));

    run = runChild(NON_FINITE_AGENT_PATH, {"agent", "--snapshot"});
    EXPECT_EQ(std::tuple(run.exitStatus, run.out + run.err), std::tuple(1, ""));
}

// The shipped agent reads the kernel's /sys/class/hwmon and, with NVIDIA's library, its
// devices. The test, as root, shows it a tree of its own at /sys inside a private mount
// namespace, so the machine's sensors play no part, and the fake library (two devices: one
// at 64 degrees with a fan at 1450 rpm, one with a fan at 900). Only /sys is made private
// there: "/" need not be a mount point (chroots).
TEST(AgentOnHwmon, ReadsTheProcessorsAndTheGPUsOwnSensorsAndEveryFanThatReads) {
    FakeHwmon tree;
    tree.addChip(0, "pci0000:00/0000:00:18.3",
                 {"name=k10temp", "temp1_label=Tctl", "temp1_input=65000", "temp2_label=Tdie",
                  "temp2_input=45000"});
    tree.addChip(1, "platform/nct6775.656",
                 {"name=nct6798", "temp1_label=SYSTIN", "temp1_input=30000", "fan1_input=1200",
                  "fan1_min=400", "fan2_input=nonsense"});
    ::setenv("LD_LIBRARY_PATH", FAKE_NVML_DIR, 1);
    ChildResult run = runChild(
        UNSHARE_PATH,
        {"unshare", "--mount", "--propagation", "unchanged", "sh", "-c",
         "mount --make-rprivate /sys && mount --bind \"$0\" /sys && exec \"$1\" --snapshot",
         tree.root.string(), AGENT_PATH});
    ::unsetenv("LD_LIBRARY_PATH");
    auto snapshot = decodeSnapshot(run.out);
    ASSERT_TRUE(snapshot) << run.err;
    // The stand-ins answer the keys the Intel lists read, which apply to every name but Apple's.
    bool intelLists = snapshot->processorName && !snapshot->processorName->starts_with("Apple ");
    EXPECT_EQ(std::tuple(snapshot->cpuTemperatureCelsius, snapshot->gpuTemperatureCelsius),
              intelLists ? std::tuple(std::optional(45.0), std::optional(64.0))
                         : std::tuple(std::optional<double>(), std::optional<double>()));
    EXPECT_EQ(std::tuple(snapshot->fanCount, snapshot->fans),
              std::tuple(3, std::vector<FanReading>{{0, 1200, 400, std::nullopt},
                                                    {1, 1450, std::nullopt, std::nullopt},
                                                    {2, 900, std::nullopt, std::nullopt}}));
}
