#pragma once

#include "../system/Result.h"

#include <filesystem>
#include <string>
#include <string_view>

// What a launch agent's property list declares that the service manager needs.
struct LaunchAgentDefinition {
    std::string label;
    std::string machServiceName;
    std::filesystem::path bundleProgram; // relative to the bundle

    bool operator==(const LaunchAgentDefinition&) const = default;
};

// A failure unless the list (XML or binary) has a Label and exactly one Mach service,
// both fit for unit and file names, and a BundleProgram that stays inside the bundle.
Result<LaunchAgentDefinition> parseLaunchAgent(std::string_view plistBytes);

// The systemd user units that stand in for a launch agent: a socket unit listening
// where clients look for the service, and the service unit it starts on demand.
struct SystemdUnits {
    std::string socketUnitName;
    std::string socketUnit;
    std::string serviceUnitName;
    std::string serviceUnit;
};

// A failure when the bundle path is not absolute or is one systemd cannot start a program
// from (quotes, backslashes, control characters).
Result<SystemdUnits> systemdUnitsFor(const LaunchAgentDefinition& agent,
                                     const std::filesystem::path& bundle);

// The units for the bundle's Contents/Library/LaunchAgents/<plistName>.
Result<SystemdUnits> systemdUnitsForBundle(const std::filesystem::path& bundle,
                                           std::string_view plistName);

// Writes both units into the directory, each replaced whole.
Result<void> writeSystemdUnits(const SystemdUnits& units,
                               const std::filesystem::path& unitDirectory);
