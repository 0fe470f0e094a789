#include "../Bundle.h"

#include "SmallFile.h"
#include "XmlPropertyList.h"

#include <system_error>

namespace {

std::map<std::string, std::string> readTextInfo(const std::filesystem::path& infoPlist) {
    // Far beyond any information dictionary; a larger file is not one.
    constexpr std::size_t sizeLimit = 1 << 20;
    auto read = readFileStart(infoPlist, sizeLimit + 1);
    if (!read || read->size() > sizeLimit)
        return {};
    return dictionaryTexts(*read).value_or(std::map<std::string, std::string>());
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
