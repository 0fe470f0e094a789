#include "IdentityNote.h"

#include <set>
#include <string>

namespace identitynote {

namespace {

// The next NUL-terminated string of `rest`, which it consumes; nothing when no NUL is left.
std::optional<std::string_view> takeString(std::string_view& rest) {
    std::size_t end = rest.find('\0');
    if (end == std::string_view::npos)
        return std::nullopt;
    std::string_view text = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    return text;
}

} // namespace

std::optional<CodeIdentity> decodePayload(std::string_view payload) {
    CodeIdentity identity;
    std::set<std::string_view> seen;
    std::string_view rest = payload;
    while (!rest.empty()) {
        auto key = takeString(rest);
        auto value = key ? takeString(rest) : std::nullopt;
        if (!value || !seen.insert(*key).second)
            return std::nullopt;
        if (*key == "identifier") {
            identity.identifier = *value;
        } else if (key->starts_with(entitlementPrefix) && key->size() > entitlementPrefix.size()) {
            identity.entitlements.emplace(key->substr(entitlementPrefix.size()), *value);
        } else {
            return std::nullopt;
        }
    }
    if (identity.identifier.empty())
        return std::nullopt;
    return identity;
}

} // namespace identitynote
