#include "Shared/SnapshotJSON.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

#include <ctime>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string agent = AGENT_PATH;

// The snapshot a successful command printed: one object and one line feed, nothing else.
std::optional<SensorSnapshot> printedSnapshot(const ChildResult& run) {
    EXPECT_EQ(std::tuple(run.exitStatus, run.err), std::tuple(0, "")) << run.err;
    EXPECT_TRUE(run.out.ends_with("}\n")) << run.out;
    return decodeSnapshot(run.out); // which takes one whole object, nothing after it
}

} // namespace

TEST(SnapshotCommand, PrintsOneSnapshotWithTheBundlesVersionAndNvidiaGPUs) {
    // The fake library under NVIDIA's file name, found by the loader the way the real one is.
    fs::path dir = fs::temp_directory_path() / ("fake-nvml-" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::create_symlink(FAKE_NVML_PATH, dir / "libnvidia-ml.so.1");
    ::setenv("LD_LIBRARY_PATH", dir.c_str(), 1);
    ::setenv("FAKE_NVML_GPU_PERCENT", "100", 1);
    auto snapshot = printedSnapshot(runChild(agent, {"first", "--snapshot", "last"}));
    ::unsetenv("LD_LIBRARY_PATH");
    ::unsetenv("FAKE_NVML_GPU_PERCENT");
    fs::remove_all(dir);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->pluginVersion, PLUGIN_VERSION);
    EXPECT_EQ(snapshot->pluginBuild, PLUGIN_BUILD);
    EXPECT_NEAR(snapshot->timestamp, double(std::time(nullptr)) - 978307200.0, 5.0); // from 2001
    // No real GPU is busier than 100 %, so this is the fake's reading whatever else is here.
    EXPECT_EQ(snapshot->gpu, GPUReading({100.0, std::nullopt, std::nullopt}));
}

TEST(SnapshotCommand, OnlyTheExactArgumentAnywhereSelectsIt) {
    EXPECT_TRUE(printedSnapshot(runChild(agent, {"--snapshot"}))); // the program path counts
    RuntimeDirectory runtime;
    for (const char* nearMiss : {"--Snapshot", "-snapshot", "---snapshot", "--snapshot=1"}) {
        BackgroundProcess service = BackgroundProcess::spawn(agent, {agent, nearMiss});
        EXPECT_TRUE(waitForListener(runtime.socketPath(), 5s)) << nearMiss << ": no service";
    }
}

TEST(SnapshotCommand, CopyOutsideTheBundleHasNoVersionAndUnencodableExitsOneSilently) {
    fs::path copy = fs::temp_directory_path() / ("loose-agent-" + std::to_string(getpid()));
    fs::copy_file(agent, copy, fs::copy_options::overwrite_existing);
    auto snapshot = printedSnapshot(runChild(copy, {"agent", "--snapshot"}));
    fs::remove(copy);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(std::tuple(snapshot->pluginVersion, snapshot->pluginBuild),
              std::tuple(std::nullopt, std::nullopt));
    ChildResult run = runChild(NON_FINITE_AGENT_PATH, {"agent", "--snapshot"});
    EXPECT_EQ(std::tuple(run.exitStatus, run.out + run.err), std::tuple(1, ""));
}
