#include "Agent/PluginInfo.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fs = std::filesystem;

namespace {

const std::string plugin = "com.quillmarsh.CorvanePlugin";

class BundleTree : public ::testing::Test {
  protected:
    fs::path root = fs::temp_directory_path() / ("bundles-" + std::to_string(::getpid()));

    void TearDown() override { fs::remove_all(root); }

    // A bundle directory with an XML Info.plist whose <dict> holds `identifier` and `more`.
    std::optional<Bundle> makeBundle(const fs::path& relative, const std::string& identifier,
                                     const std::string& more = "") {
        fs::create_directories(root / relative / "Contents/MacOS");
        std::ofstream(root / relative / "Contents/Info.plist")
            << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
            << "<key>CFBundleIdentifier</key><string>" << identifier << "</string>" << more
            << "</dict></plist>\n";
        return openBundle(root / relative);
    }
};

std::optional<fs::path> pathOf(const std::optional<Bundle>& bundle) {
    return bundle ? std::optional(bundle->path) : std::nullopt;
}

} // namespace

TEST_F(BundleTree, WalkFindsTheEnclosingPluginOnly) {
    auto own = makeBundle("Own.app", plugin);
    EXPECT_EQ(pathOf(findPluginBundle(own, std::nullopt)), root / "Own.app");

    makeBundle("Plugin.app", plugin);
    auto other = makeBundle("Plugin.app/Contents/Helpers/Other.app", "x.Other");
    auto found = findPluginBundle(other, root / "Plugin.app/Contents/Helpers/Other.app/agent");
    EXPECT_EQ(pathOf(found), root / "Plugin.app");
    found = findPluginBundle(std::nullopt, root / "Plugin.app/Contents/./MacOS/../MacOS/agent");
    EXPECT_EQ(pathOf(found), root / "Plugin.app");

    makeBundle("Named.app.d", plugin); // not an ".app" directory
    EXPECT_FALSE(findPluginBundle(std::nullopt, root / "Named.app.d/Contents/MacOS/agent"));
    EXPECT_FALSE(findPluginBundle(std::nullopt, fs::path("/")));
    EXPECT_FALSE(findPluginBundle(std::nullopt, fs::path("relative/Missing.app/agent")));
    EXPECT_FALSE(findPluginBundle(std::nullopt, std::nullopt));
}

TEST_F(BundleTree, VersionAndBuildComeFromTextValuesOnly) {
    auto text = versionInfoOf(makeBundle("A.app", plugin,
                                         "<key>CFBundleShortVersionString</key><string>2.4</string>"
                                         "<key>CFBundleVersion</key><string>+77</string>"));
    EXPECT_EQ(text.version, "2.4");
    EXPECT_EQ(text.build, 77);
    auto numbers =
        versionInfoOf(makeBundle("B.app", plugin,
                                 "<key>CFBundleShortVersionString</key><integer>3</integer>"
                                 "<key>CFBundleVersion</key><integer>42</integer>"));
    EXPECT_EQ(numbers.version, std::nullopt);
    EXPECT_EQ(numbers.build, std::nullopt);

    // Unreadable information leaves a bundle without identity; no directory, no bundle.
    auto broken = makeBundle("C.app", "<key>");
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->identifier(), std::nullopt);
    EXPECT_FALSE(openBundle(root / "Absent.app"));
}

TEST(BuildNumber, AcceptsOnlySignedDecimalWithin64Bits) {
    EXPECT_EQ(parseBuildNumber("42"), 42);
    EXPECT_EQ(parseBuildNumber("+7"), 7);
    EXPECT_EQ(parseBuildNumber("-3"), -3);
    EXPECT_EQ(parseBuildNumber("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(parseBuildNumber("-9223372036854775808"), INT64_MIN);
    for (const char* bad :
         {"", "+", "-", "1.2", "12a", "9223372036854775808", "-9223372036854775809"})
        EXPECT_EQ(parseBuildNumber(bad), std::nullopt) << bad;
}
