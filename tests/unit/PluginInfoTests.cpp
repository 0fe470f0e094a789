#include "Agent/Collector.h"
#include "Agent/PluginInfo.h"

#include <gtest/gtest.h>

#include <ctime>
#include <fstream>

namespace fs = std::filesystem;

namespace {

class BundleTree : public ::testing::Test {
protected:
    fs::path root = fs::temp_directory_path() /
                    ("bundles-" + std::to_string(::getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());

    void SetUp() override { fs::create_directories(root); }
    void TearDown() override { fs::remove_all(root); }

    // A bundle directory with an XML Info.plist holding the given raw <dict> body.
    fs::path makeBundle(const fs::path& relative, const std::string& dictBody) {
        fs::path bundle = root / relative;
        fs::create_directories(bundle / "Contents" / "MacOS");
        std::ofstream(bundle / "Contents" / "Info.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            << dictBody << "</dict></plist>\n";
        return bundle;
    }
    static std::string identified(const std::string& identifier, const std::string& more = "") {
        return "<key>CFBundleIdentifier</key><string>" + identifier + "</string>" + more;
    }
    fs::path makeExecutable(const fs::path& relative) {
        fs::path file = root / relative;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "#!/bin/false\n";
        return file;
    }
};

const std::string plugin = "com.quillmarsh.CorvanePlugin";

} // namespace

TEST_F(BundleTree, MainBundleOfThePluginIsTakenWithoutSearching) {
    auto own = openBundle(makeBundle("Own.app", identified(plugin)));
    auto found = findPluginBundle(own, std::nullopt);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, root / "Own.app");
}

TEST_F(BundleTree, WalkSkipsOtherAppsAndFindsTheEnclosingPlugin) {
    makeBundle("Plugin.app", identified(plugin));
    makeBundle("Plugin.app/Contents/Helpers/Other.app", identified("com.quillmarsh.Other"));
    auto agent = makeExecutable("Plugin.app/Contents/Helpers/Other.app/Contents/MacOS/agent");
    auto other = openBundle(root / "Plugin.app/Contents/Helpers/Other.app");
    auto found = findPluginBundle(other, agent);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, root / "Plugin.app");
}

TEST_F(BundleTree, WalkStandardisesThePath) {
    makeBundle("Plugin.app", identified(plugin));
    auto found = findPluginBundle(std::nullopt, root / "Plugin.app/Contents/./MacOS/../MacOS/agent");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->path, root / "Plugin.app");
}

TEST_F(BundleTree, NoEnclosingPluginGivesNothing) {
    makeBundle("Named.app.d", identified(plugin)); // not an ".app" directory
    makeBundle("Wrong.app", identified("com.quillmarsh.CorvanePluginX"));
    EXPECT_FALSE(findPluginBundle(std::nullopt, makeExecutable("Named.app.d/Contents/MacOS/agent")));
    EXPECT_FALSE(findPluginBundle(std::nullopt, makeExecutable("Wrong.app/Contents/MacOS/agent")));
    EXPECT_FALSE(findPluginBundle(std::nullopt, makeExecutable("loose/agent")));
    EXPECT_FALSE(findPluginBundle(std::nullopt, fs::path("/")));
    EXPECT_FALSE(findPluginBundle(std::nullopt, fs::path("relative/Missing.app/agent")));
    EXPECT_FALSE(findPluginBundle(std::nullopt, std::nullopt));
}

TEST_F(BundleTree, VersionAndBuildComeFromTextValues) {
    auto info = [&](const std::string& name, const std::string& body) {
        return versionInfoOf(openBundle(makeBundle(name, identified(plugin, body))));
    };
    auto full = info("A.app", "<key>CFBundleShortVersionString</key><string>2.4</string>"
                              "<key>CFBundleVersion</key><string>+77</string>");
    EXPECT_EQ(full.version, "2.4");
    EXPECT_EQ(full.build, 77);

    auto dotted = info("B.app", "<key>CFBundleShortVersionString</key><string>2.4</string>"
                                "<key>CFBundleVersion</key><string>1.2</string>");
    EXPECT_EQ(dotted.version, "2.4");
    EXPECT_EQ(dotted.build, std::nullopt);

    auto numbers = info("C.app", "<key>CFBundleShortVersionString</key><integer>3</integer>"
                                 "<key>CFBundleVersion</key><integer>42</integer>");
    EXPECT_EQ(numbers.version, std::nullopt);
    EXPECT_EQ(numbers.build, std::nullopt);

    auto none = versionInfoOf(std::nullopt);
    EXPECT_EQ(none.version, std::nullopt);
    EXPECT_EQ(none.build, std::nullopt);
}

TEST_F(BundleTree, UnreadableInfoGivesABundleWithoutIdentity) {
    fs::create_directories(root / "Broken.app/Contents");
    std::ofstream(root / "Broken.app/Contents/Info.plist") << "<plist><dict><key>";
    auto broken = openBundle(root / "Broken.app");
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->identifier(), std::nullopt);
    EXPECT_FALSE(openBundle(root / "Absent.app"));
}

TEST(BuildNumber, AcceptsOnlySignedDecimalWithin64Bits) {
    EXPECT_EQ(parseBuildNumber("42"), 42);
    EXPECT_EQ(parseBuildNumber("+7"), 7);
    EXPECT_EQ(parseBuildNumber("-3"), -3);
    EXPECT_EQ(parseBuildNumber("007"), 7);
    EXPECT_EQ(parseBuildNumber("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(parseBuildNumber("-9223372036854775808"), INT64_MIN);
    for (const char* bad : {"", "+", "-", "1.2", "12a", " 1", "1 ", "+-1", "--1", "0x10",
                            "9223372036854775808", "-9223372036854775809", "１"})
        EXPECT_EQ(parseBuildNumber(bad), std::nullopt) << bad;
}

TEST(Collector, ReadsInOrderAndStampsAfterTheReadings) {
    std::vector<std::string> calls;
    SnapshotSources sources{
        [&] { calls.push_back("name"); return std::optional<std::string>("Apple M2"); },
        [&] { calls.push_back("gpu"); return std::optional<GPUReading>(GPUReading{9, 1, {}}); },
        [&] { calls.push_back("smc"); return nullptr; },
        [&] { calls.push_back("now"); return 42.5; },
    };
    SensorSnapshot snapshot = collectSnapshot(sources);
    EXPECT_EQ(calls, (std::vector<std::string>{"name", "gpu", "smc", "now"}));
    EXPECT_EQ(snapshot.protocolVersion, 1);
    EXPECT_EQ(snapshot.timestamp, 42.5);
    EXPECT_EQ(snapshot.processorName, "Apple M2");
    EXPECT_EQ(snapshot.gpu, (GPUReading{9, 1, {}}));
    EXPECT_TRUE(snapshot.fans.empty());
    EXPECT_EQ(snapshot.fanCount, std::nullopt);
}

TEST(Collector, TimestampCountsFromTheStartOf2001) {
    double expected = double(std::time(nullptr)) - 978307200.0;
    EXPECT_NEAR(secondsSinceReferenceDate(), expected, 2.0);
}
