#include "SmallFile.h"

#include "FileDescriptor.h"

#include <algorithm>
#include <charconv>
#include <dirent.h>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

Result<std::string> readFileStart(const std::filesystem::path& file, std::size_t limit) {
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd)
        return Failure::ofErrno();
    std::string text;
    char buffer[4096];
    while (text.size() < limit) {
        ssize_t count = ::read(fd.get(), buffer, std::min(sizeof buffer, limit - text.size()));
        if (count < 0)
            return Failure::ofErrno();
        if (count == 0)
            break;
        text.append(buffer, std::size_t(count));
    }
    return text;
}

Result<std::string> readSysfsAttribute(const std::filesystem::path& file) {
    constexpr std::size_t attributeLimit = 64;
    auto text = readFileStart(file, attributeLimit + 1);
    if (!text)
        return text;
    if (text->size() > attributeLimit)
        return Failure{};
    if (!text->empty() && text->back() == '\n')
        text->pop_back();
    return text;
}

Result<std::vector<std::string>> directoryNames(const std::filesystem::path& directory) {
    DIR* stream = ::opendir(directory.c_str());
    if (!stream)
        return Failure::ofErrno();
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(stream)) {
        std::string_view name = entry->d_name;
        if (name != "." && name != "..")
            names.emplace_back(name);
    }
    ::closedir(stream);
    return names;
}

Result<std::int64_t> readSysfsInteger(const std::filesystem::path& file) {
    auto text = readSysfsAttribute(file);
    if (!text)
        return text.failure();
    std::int64_t value = 0;
    const char* end = text->data() + text->size();
    auto [stop, error] = std::from_chars(text->data(), end, value);
    if (error != std::errc() || stop != end)
        return Failure{};
    return value;
}
