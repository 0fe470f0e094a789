#include "Agent/AgentMain.h"
#include "Platform/KernelSetting.h"
#include "Shared/SnapshotJSON.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

TEST(SnapshotCommand, OnlyTheExactArgumentAnywhereSelectsIt) {
    using Arguments = std::vector<const char*>;
    EXPECT_TRUE(wantsSnapshotCommand(Arguments{"--snapshot"})); // the program path counts
    EXPECT_TRUE(wantsSnapshotCommand(Arguments{"agent", "x", "--snapshot", "y"}));
    for (const char* nearMiss : {"--Snapshot", "-snapshot", "---snapshot", "--snapshot=1"})
        EXPECT_FALSE(wantsSnapshotCommand(Arguments{"agent", nearMiss})) << nearMiss;
}

TEST(SnapshotCommand, PrintsOneObjectAndALineFeedOrNothingWhenItCannotBeEncoded) {
    // The fake library under NVIDIA's file name, found by the loader the way the real one is.
    fs::path dir = fs::temp_directory_path() / ("fake-nvml-" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::create_symlink(FAKE_NVML_PATH, dir / "libnvidia-ml.so.1");
    ::setenv("LD_LIBRARY_PATH", dir.c_str(), 1);
    ::setenv("FAKE_NVML_GPU_PERCENT", "100", 1);
    ChildResult run = runChild(AGENT_PATH, {"first", "--snapshot", "last"});
    ::unsetenv("LD_LIBRARY_PATH");
    ::unsetenv("FAKE_NVML_GPU_PERCENT");
    fs::remove_all(dir);
    EXPECT_EQ(std::tuple(run.exitStatus, run.err), std::tuple(0, "")) << run.err;
    EXPECT_TRUE(run.out.ends_with("}\n")) << run.out;
    auto snapshot = decodeSnapshot(run.out); // which takes one whole object, nothing after it
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(std::tuple(snapshot->pluginVersion, snapshot->pluginBuild),
              std::tuple(PLUGIN_VERSION, PLUGIN_BUILD));
    std::ifstream cpuinfo("/proc/cpuinfo"); // read through the two-call kernel setting
    EXPECT_EQ(snapshot->processorName,
              cpuModelName(std::string(std::istreambuf_iterator<char>(cpuinfo), {})));
    EXPECT_NEAR(snapshot->timestamp, double(std::time(nullptr)) - 978307200.0, 5.0); // from 2001
    // No real GPU is busier than 100 %, so this is the fake's reading whatever else is here.
    EXPECT_EQ(snapshot->gpu, GPUReading({100.0, std::nullopt, std::nullopt}));

    run = runChild(NON_FINITE_AGENT_PATH, {"agent", "--snapshot"});
    EXPECT_EQ(std::tuple(run.exitStatus, run.out + run.err), std::tuple(1, ""));
}
