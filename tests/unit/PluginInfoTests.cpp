#include "Agent/PluginInfo.h"

#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

// Bundles inside bundles: the walk up from a program passes over other apps and over
// directories that only look like apps, and finds the plugin around them.
TEST(PluginInfo, WalkFindsTheEnclosingPluginAndItsTextValues) {
    const fs::path root = fs::temp_directory_path() / ("bundles-" + std::to_string(getpid()));
    auto make = [&](const fs::path& relative, const std::string& identifier) {
        fs::create_directories(root / relative / "Contents");
        std::ofstream(root / relative / "Contents/Info.plist")
            << "<plist><dict><key>CFBundleIdentifier</key><string>" << identifier
            << "</string><key>CFBundleShortVersionString</key><string>2.4</string>"
               "<key>CFBundleVersion</key><integer>7</integer></dict></plist>";
        return openBundle(root / relative);
    };
    auto own = make("Plugin.app", "com.quillmarsh.CorvanePlugin");
    auto other = make("Plugin.app/Contents/Other.app", "x.Other");
    make("Named.app.d", "com.quillmarsh.CorvanePlugin");
    for (auto [main, program] :
         {std::pair(own, std::optional<fs::path>()),
          std::pair(other, std::optional(root / "Plugin.app/Contents/Other.app/Contents/x/../p")),
          std::pair(std::optional<Bundle>(), std::optional(root / "Plugin.app/Contents/p"))}) {
        auto found = findPluginBundle(main, program);
        EXPECT_EQ(found ? found->path : "", root / "Plugin.app");
        EXPECT_EQ(versionInfoOf(found).version, "2.4");
        EXPECT_EQ(versionInfoOf(found).build, std::nullopt); // not a text
    }
    EXPECT_FALSE(findPluginBundle({}, root / "Named.app.d/Contents/p"));
    EXPECT_FALSE(findPluginBundle({}, fs::path("/")));
    fs::remove_all(root);
}

TEST(PluginInfo, BuildNumberIsASignedDecimalWithin64Bits) {
    const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
        {"+77", 77},
        {"-9223372036854775808", INT64_MIN},
        {"9223372036854775807", INT64_MAX},
        {"", {}},
        {"-", {}},
        {"1.2", {}},
        {"12a", {}},
        {"9223372036854775808", {}},
    };
    for (auto [text, build] : cases)
        EXPECT_EQ(parseBuildNumber(text), build) << text;
}
