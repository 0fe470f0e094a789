#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// What both ends of the sensor service agree on.
namespace contract {

inline constexpr std::string_view teamIdentifier = "R8QZK2MX4T";
inline constexpr std::string_view applicationGroup = "R8QZK2MX4T.group.com.quillmarsh.Vendrel";
inline constexpr std::string_view sensorMachServiceName =
    "R8QZK2MX4T.group.com.quillmarsh.Vendrel.sensors";
inline constexpr std::string_view hostAppIdentifier = "com.quillmarsh.Corvane";
inline constexpr std::string_view pluginAppIdentifier = "com.quillmarsh.CorvanePlugin";
inline constexpr std::string_view agentIdentifier = "CorvanePluginAgent";
inline constexpr std::int64_t protocolVersion = 1;
inline constexpr std::size_t largestReplyBytes = 65536;

// The requirement the agent demands of every client, and the one clients demand of
// the agent; each composed once per process.
const std::string& agentRequirement();
const std::string& clientRequirement();

} // namespace contract
