#include "PluginInfo.h"

#include <charconv>

std::optional<Bundle> findPluginBundle(const std::optional<Bundle>& mainBundle,
                                       const std::optional<std::filesystem::path>& executable) {
    if (mainBundle && mainBundle->identifier() == pluginAppIdentifier)
        return mainBundle;
    if (!executable)
        return std::nullopt;
    std::filesystem::path current = executable->lexically_normal();
    // A trailing separator would make the directory's own name look empty.
    if (!current.has_filename() && current.has_parent_path() && current != current.root_path())
        current = current.parent_path();
    if (current == "/")
        return std::nullopt;
    // Relative paths run out of components instead of reaching "/".
    while (!current.empty()) {
        if (current.extension() == ".app") {
            auto bundle = openBundle(current);
            if (bundle && bundle->identifier() == pluginAppIdentifier)
                return bundle;
        }
        current = current.parent_path();
        if (current == "/")
            return std::nullopt;
    }
    return std::nullopt;
}

std::optional<std::int64_t> parseBuildNumber(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    // Parsed with its sign so that the most negative value still fits.
    std::string signedDigits = (negative ? "-" : "") + std::string(text);
    std::int64_t value = 0;
    auto [end, error] =
        std::from_chars(signedDigits.data(), signedDigits.data() + signedDigits.size(), value);
    if (error != std::errc() || end != signedDigits.data() + signedDigits.size())
        return std::nullopt;
    return value;
}

PluginVersionInfo versionInfoOf(const std::optional<Bundle>& pluginBundle) {
    if (!pluginBundle)
        return {};
    std::optional<std::int64_t> build;
    if (auto text = pluginBundle->infoText("CFBundleVersion"))
        build = parseBuildNumber(*text);
    return {pluginBundle->infoText("CFBundleShortVersionString"), build};
}

const PluginVersionInfo& pluginVersionInfo() {
    // A function-local static: the first caller computes it, concurrent callers wait.
    static const PluginVersionInfo info = versionInfoOf(findPluginBundle(mainBundle(), executablePath()));
    return info;
}
