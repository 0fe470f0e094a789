#include "../Bundle.h"

#include "SmallFile.h"

#include <plist/plist.h>

#include <memory>
#include <system_error>

namespace {

using PlistPtr = std::unique_ptr<void, decltype(&plist_free)>;

std::map<std::string, std::string> readTextInfo(const std::filesystem::path& infoPlist) {
    // Far beyond any information dictionary; a larger file is not one.
    constexpr std::size_t sizeLimit = 1 << 20;
    std::map<std::string, std::string> info;
    auto read = readFileStart(infoPlist, sizeLimit + 1);
    if (!read || read->size() > sizeLimit)
        return info;
    const std::string& bytes = *read;
    plist_t rawRoot = nullptr;
    plist_from_memory(bytes.data(), static_cast<uint32_t>(bytes.size()), &rawRoot);
    PlistPtr root(rawRoot, &plist_free);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT)
        return info;

    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(root.get(), &iterator);
    for (;;) {
        char* key = nullptr;
        plist_t value = nullptr;
        plist_dict_next_item(root.get(), iterator, &key, &value);
        if (!key)
            break;
        if (plist_get_node_type(value) == PLIST_STRING) {
            char* text = nullptr;
            plist_get_string_val(value, &text);
            if (text)
                info.emplace(key, text);
            free(text);
        }
        free(key);
    }
    free(iterator);
    return info;
}

} // namespace

std::optional<Bundle> openBundle(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_directory(path, error))
        return std::nullopt;
    return Bundle{path, readTextInfo(path / "Contents" / "Info.plist")};
}

std::optional<std::filesystem::path> executablePath() {
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return std::nullopt;
    return path;
}

std::optional<Bundle> mainBundle() {
    auto executable = executablePath();
    if (!executable)
        return std::nullopt;
    auto macOSDir = executable->parent_path();
    auto contents = macOSDir.parent_path();
    if (macOSDir.filename() == "MacOS" && contents.filename() == "Contents")
        return openBundle(contents.parent_path());
    return openBundle(macOSDir);
}
