#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

// Who a program is: identifier and entitlements from its identity note, the rest from
// the certificates of its verified signature.
struct CodeIdentity {
    std::string identifier;
    std::string team;                                     // the leaf certificate's subject.OU
    bool anchoredByPlatform = false;                      // chains to our compiled-in anchor
    std::map<std::string, std::string> certificateFields; // "field.<oid>" -> value
    std::map<std::string, std::string> entitlements;

    bool operator==(const CodeIdentity&) const = default;
};

// Whether an identity satisfies a requirement text; a text that does not parse is
// satisfied by nobody.
bool satisfies(const CodeIdentity& identity, std::string_view requirement);
