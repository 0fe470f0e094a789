#include "Shared/SnapshotJSON.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string agent = AGENT_PATH;

// The snapshot a successful command printed: one object and one line feed, nothing else.
std::optional<SensorSnapshot> printedSnapshot(const ChildResult& run) {
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, "");
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
    ChildResult run = runChild(agent, {agent, "--snapshot"});
    ::unsetenv("LD_LIBRARY_PATH");
    ::unsetenv("FAKE_NVML_GPU_PERCENT");
    fs::remove_all(dir);
    auto snapshot = printedSnapshot(run);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->pluginVersion, PLUGIN_VERSION);
    EXPECT_EQ(snapshot->pluginBuild, PLUGIN_BUILD);
    EXPECT_NEAR(snapshot->timestamp, double(std::time(nullptr)) - 978307200.0, 5.0); // from 2001
    // No real GPU is busier than 100 %, so this is the fake's reading whatever else is here.
    EXPECT_EQ(snapshot->gpu, GPUReading({100.0, std::nullopt, std::nullopt})) << run.out;
}

TEST(SnapshotCommand, ArgumentMatchesAnywhereButOnlyExactly) {
    // Service mode, should it start, listens in a runtime directory of its own.
    RuntimeDirectory runtime;
    EXPECT_TRUE(printedSnapshot(runChild(agent, {agent, "first", "--snapshot", "last"})));
    EXPECT_TRUE(printedSnapshot(runChild(agent, {"--snapshot"}))); // the program path counts
    for (const char* nearMiss :
         {"--Snapshot", "-snapshot", "---snapshot", "--snapshot=1", "--snapshot ", "snapshot"}) {
        ChildResult run = runChild(agent, {agent, nearMiss}, 300ms);
        EXPECT_TRUE(run.timedOut) << nearMiss << " should start service mode";
        EXPECT_EQ(run.out + run.err, "") << nearMiss;
    }
}

TEST(SnapshotCommand, CopyOutsideTheBundleHasNoVersion) {
    fs::path copy = fs::temp_directory_path() / ("loose-agent-" + std::to_string(getpid()));
    fs::copy_file(agent, copy, fs::copy_options::overwrite_existing);
    ChildResult run = runChild(copy, {"agent", "--snapshot"});
    fs::remove(copy);
    auto snapshot = printedSnapshot(run);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->pluginVersion, std::nullopt);
    EXPECT_EQ(snapshot->pluginBuild, std::nullopt);
}

TEST(SnapshotCommand, UnencodableSnapshotExitsOneWithoutOutput) {
    ChildResult run = runChild(NON_FINITE_AGENT_PATH, {"agent", "--snapshot"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out + run.err, "");
}
