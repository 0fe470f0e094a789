#include "ServiceContract.h"

#include <array>

namespace contract {

namespace {

// The agents a client will talk to.
constexpr std::array<std::string_view, 1> permittedAgentIdentifiers = {agentIdentifier};

// The leaf-certificate extension that marks a store-distributed build.
constexpr std::string_view storeMarkerField = "field.1.2.840.113635.100.6.1.9";

std::string quoted(std::string_view text) {
    return std::string("\"").append(text).append("\"");
}

std::string composeAgentRequirement() {
    const std::string team = quoted(teamIdentifier);
    const std::string host = quoted(hostAppIdentifier);
    const std::string storeApplication =
        quoted(std::string(teamIdentifier).append(".").append(hostAppIdentifier));
    const std::array<std::string, 14> lines = {
        "anchor apple generic and (",
        "    (",
        "        certificate leaf[subject.OU] = " + team,
        "        and (",
        "            identifier " + host,
        "            or identifier " + quoted(pluginAppIdentifier),
        "        )",
        "    )",
        "    or (",
        "        certificate leaf[" + std::string(storeMarkerField) + "] exists",
        "        and identifier " + host,
        "        and entitlement[\"com.apple.application-identifier\"] =             " +
            storeApplication,
        "    )",
        ")",
    };
    std::string text;
    for (const std::string& line : lines) {
        if (!text.empty())
            text += '\n';
        text += line;
    }
    return text;
}

std::string composeClientRequirement() {
    std::string text = "anchor apple generic and certificate leaf[subject.OU] = ";
    text += quoted(teamIdentifier);
    text += " and (";
    bool first = true;
    for (std::string_view identifier : permittedAgentIdentifiers) {
        if (!first)
            text += " or ";
        first = false;
        text += "identifier " + quoted(identifier);
    }
    text += ")";
    return text;
}

} // namespace

const std::string& agentRequirement() {
    static const std::string text = composeAgentRequirement();
    return text;
}

const std::string& clientRequirement() {
    static const std::string text = composeClientRequirement();
    return text;
}

} // namespace contract
