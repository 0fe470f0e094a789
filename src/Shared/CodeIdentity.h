#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

// Who a program says it is: what our build embeds in each executable.
struct CodeIdentity {
    std::string identifier;
    std::string team;                                     // the leaf certificate's subject.OU
    bool anchoredByPlatform = false;                      // "anchor apple generic"
    std::map<std::string, std::string> certificateFields; // "field.<oid>" -> value
    std::map<std::string, std::string> entitlements;

    bool operator==(const CodeIdentity&) const = default;
};

// Whether an identity satisfies a requirement text; a text that does not parse is
// satisfied by nobody.
bool satisfies(const CodeIdentity& identity, std::string_view requirement);
