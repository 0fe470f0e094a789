#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

inline void writeFile(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// A sysfs tree in a fresh temporary directory, laid out as the kernel lays out hwmon: each
// chip's hwmonN directory under its device in devices/, and class/hwmon/hwmonN a relative
// link to it. Removed when destroyed; not to be copied.
struct FakeHwmon {
    using Attributes = std::vector<std::string>; // "name=value"
    // Most drivers keep a chip's attributes in hwmonN/; some (applesmc) on their device.
    enum class Place { hwmonDir, deviceDir };

    const std::filesystem::path root = [] {
        std::string path = (std::filesystem::temp_directory_path() / "hwmon-XXXXXX").string();
        if (!::mkdtemp(path.data()))
            throw std::system_error(errno, std::generic_category(), "mkdtemp");
        std::filesystem::create_directories(path + "/class/hwmon");
        return path;
    }();

    ~FakeHwmon() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    std::filesystem::path classDir() const { return root / "class/hwmon"; }

    // Chip hwmonN of the device at devices/<devicePath>, each attribute written as sysfs
    // shows it (the text and a line feed). Returns the directory that holds them.
    std::filesystem::path addChip(unsigned n, const std::string& devicePath,
                                  const Attributes& attributes, Place place = Place::hwmonDir) {
        namespace fs = std::filesystem;
        std::string hwmon = "hwmon" + std::to_string(n);
        fs::path device = root / "devices" / devicePath, dir = device / "hwmon" / hwmon;
        fs::create_directories(dir);
        fs::create_directory_symlink(fs::path("../../..") / device.filename(), dir / "device");
        fs::create_directory_symlink(fs::path("../../devices") / devicePath / "hwmon" / hwmon,
                                     classDir() / hwmon);
        for (const std::string& attribute : attributes) {
            auto equals = attribute.find('=');
            writeFile((place == Place::deviceDir ? device : dir) / attribute.substr(0, equals),
                      attribute.substr(equals + 1) + "\n");
        }
        return place == Place::deviceDir ? device : dir;
    }
};
