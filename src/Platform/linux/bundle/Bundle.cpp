#include "../../Bundle.h"

#include "../system/SmallFile.h"
#include "XmlPropertyList.h"

#include <algorithm>
#include <climits>
#include <system_error>
#include <unistd.h>

namespace {

// The information in Contents/Info.plist; a failure when there is no such file to read.
Result<std::map<std::string, std::string>> readTextInfo(const std::filesystem::path& bundle) {
    // Far beyond any information dictionary; a larger file is not one.
    constexpr std::size_t sizeLimit = 1 << 20;
    auto read = readFileStart(bundle.native() + "/Contents/Info.plist", sizeLimit + 1);
    if (!read)
        return read.failure();
    if (read->size() > sizeLimit)
        return std::map<std::string, std::string>();
    return dictionaryTexts(*read).value_or(std::map<std::string, std::string>());
}

// The folder that holds `path`, worked out on the text: every start pays for the program's
// path, and the kernel gives it absolute and clean.
std::string_view folderOf(std::string_view path) {
    auto slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return {};
    return path.substr(0, std::max<std::size_t>(slash, 1));
}

} // namespace

std::optional<Bundle> openBundle(const std::filesystem::path& path) {
    // A file read inside it proves it a directory: no look-up of its own is needed.
    if (auto info = readTextInfo(path))
        return Bundle{path, std::move(*info)};
    std::error_code error;
    if (!std::filesystem::is_directory(path, error))
        return std::nullopt;
    return Bundle{path, {}};
}

std::optional<std::filesystem::path> executablePath() {
    char path[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", path, sizeof path);
    if (length <= 0 || std::size_t(length) == sizeof path)
        return std::nullopt;
    return std::filesystem::path(std::string(path, std::size_t(length)));
}

std::optional<Bundle> bundleOfProgram(const std::filesystem::path& executable) {
    std::string_view macOSDir = folderOf(executable.native());
    std::string_view contents = folderOf(macOSDir);
    if (macOSDir.ends_with("/MacOS") && contents.ends_with("/Contents"))
        return openBundle(std::string(folderOf(contents)));
    return openBundle(std::string(macOSDir));
}

std::optional<Bundle> mainBundle() {
    auto executable = executablePath();
    return executable ? bundleOfProgram(*executable) : std::nullopt;
}
