#include "PluginInfo.h"

#include <charconv>
#include <limits>

std::optional<Bundle> findPluginBundle(const std::optional<Bundle>& mainBundle,
                                       const std::optional<std::filesystem::path>& executable) {
    if (mainBundle && mainBundle->identifier() == contract::pluginAppIdentifier)
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
            if (bundle && bundle->identifier() == contract::pluginAppIdentifier)
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
    std::uint64_t magnitude = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    constexpr auto largest = std::uint64_t(std::numeric_limits<std::int64_t>::max());
    if (magnitude > largest + (negative ? 1 : 0))
        return std::nullopt;
    // Negated in unsigned arithmetic so that the most negative value stays exact.
    return negative ? std::int64_t(0 - magnitude) : std::int64_t(magnitude);
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
    static const PluginVersionInfo info = [] {
        auto executable = executablePath();
        auto main = executable ? bundleOfProgram(*executable) : std::nullopt;
        return versionInfoOf(findPluginBundle(main, executable));
    }();
    return info;
}
