#pragma once

#include "../../AgentService.h"

#include <filesystem>

// The launch agent `plistName` of the bundle at `bundle`, registered as the two units made
// from it with the user's systemd manager. Where the units go and how the manager is
// reached are read from the environment now.
std::unique_ptr<AgentService> makeAgentService(const std::filesystem::path& bundle,
                                               std::string_view plistName);
