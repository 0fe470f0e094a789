#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>

// An app bundle: a directory "X.app" whose Contents/Info.plist describes it. Only the
// information dictionary's text values matter to the system; other values read as absent.
struct Bundle {
    std::filesystem::path path;
    std::map<std::string, std::string> textInfo;

    std::optional<std::string> infoText(const std::string& key) const {
        auto it = textInfo.find(key);
        return it == textInfo.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    std::optional<std::string> identifier() const { return infoText("CFBundleIdentifier"); }
};

// Nothing when the path is not a directory; a bundle without information when its
// Info.plist is missing or unreadable.
std::optional<Bundle> openBundle(const std::filesystem::path& path);

// The bundle of the program at `executable`: the "X.app" around Contents/MacOS/<program>,
// or else the directory that holds the program.
std::optional<Bundle> bundleOfProgram(const std::filesystem::path& executable);

// The running program's bundle.
std::optional<Bundle> mainBundle();

// The running program's executable file.
std::optional<std::filesystem::path> executablePath();
