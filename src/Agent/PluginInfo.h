#pragma once

#include "../Platform/Bundle.h"
#include "../Shared/ServiceContract.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

// The plugin app around the running program: the main bundle when it is the plugin
// app, else the nearest enclosing "*.app" directory whose identifier is the plugin's.
std::optional<Bundle> findPluginBundle(const std::optional<Bundle>& mainBundle,
                                       const std::optional<std::filesystem::path>& executable);

// A build number: optional sign, then decimal digits only, within signed 64 bits.
std::optional<std::int64_t> parseBuildNumber(std::string_view text);

struct PluginVersionInfo {
    std::optional<std::string> version;
    std::optional<std::int64_t> build;
};

PluginVersionInfo versionInfoOf(const std::optional<Bundle>& pluginBundle);

// Computed on first use for the running process, then kept.
const PluginVersionInfo& pluginVersionInfo();
