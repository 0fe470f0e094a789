#include "Shared/SnapshotJSON.h"
#include "support/ChildProcess.h"
#include "support/ServiceHarness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string agent = AGENT_PATH;

void expectOnePrettyObject(const ChildResult& run) {
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, "");
    ASSERT_FALSE(run.out.empty());
    EXPECT_EQ(run.out.front(), '{');
    EXPECT_EQ(run.out.substr(run.out.size() - 2), "}\n");
    EXPECT_EQ(run.out.find("}\n"), run.out.size() - 2);
}

} // namespace

TEST(SnapshotCommand, PrintsOneSnapshotWithTheBundlesVersion) {
    ChildResult run = runChild(agent, {agent, "--snapshot"});
    expectOnePrettyObject(run);
    auto snapshot = decodeSnapshot(run.out);
    ASSERT_TRUE(snapshot) << run.out;
    EXPECT_EQ(snapshot->protocolVersion, 1);
    EXPECT_EQ(snapshot->pluginVersion, PLUGIN_VERSION);
    EXPECT_EQ(snapshot->pluginBuild, PLUGIN_BUILD);
    EXPECT_TRUE(snapshot->fans.empty());
    EXPECT_GT(snapshot->timestamp, 800000000.0); // after 2026
}

TEST(SnapshotCommand, ArgumentMatchesAnywhereButOnlyExactly) {
    expectOnePrettyObject(runChild(agent, {agent, "first", "--snapshot", "last"}));
    // The program path counts as an argument too.
    expectOnePrettyObject(runChild(agent, {"--snapshot"}));

    // Service mode listens in a runtime directory of its own, never a real one.
    RuntimeDirectory runtime;
    for (const char* nearMiss :
         {"--Snapshot", "-snapshot", "---snapshot", "--snapshot=1", "--snapshot ", "snapshot"}) {
        ChildResult run = runChild(agent, {agent, nearMiss}, 300ms);
        EXPECT_TRUE(run.timedOut) << nearMiss << " should start service mode";
        EXPECT_EQ(run.out, "") << nearMiss;
        EXPECT_EQ(run.err, "") << nearMiss;
    }
}

TEST(SnapshotCommand, CopyOutsideTheBundleHasNoVersion) {
    fs::path dir = fs::temp_directory_path() / ("loose-agent-" + std::to_string(getpid()));
    fs::create_directories(dir);
    fs::copy_file(agent, dir / "CorvanePluginAgent", fs::copy_options::overwrite_existing);
    ChildResult run = runChild((dir / "CorvanePluginAgent").string(), {"agent", "--snapshot"});
    fs::remove_all(dir);
    expectOnePrettyObject(run);
    auto snapshot = decodeSnapshot(run.out);
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->pluginVersion, std::nullopt);
    EXPECT_EQ(snapshot->pluginBuild, std::nullopt);
    EXPECT_EQ(run.out.find("plugin"), std::string::npos);
}

TEST(SnapshotCommand, UnencodableSnapshotExitsOneWithoutOutput) {
    ChildResult run = runChild(NON_FINITE_AGENT_PATH, {"agent", "--snapshot"});
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
}
