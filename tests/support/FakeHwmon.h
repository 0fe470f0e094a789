#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

inline void writeFile(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// A sysfs tree in a fresh temporary directory, laid out as the kernel lays out hwmon: each
// chip's hwmonN directory under its device in devices/, and class/hwmon/hwmonN a relative
// link to it. Removed when destroyed; not to be copied.
struct FakeHwmon {
    std::string made = (std::filesystem::temp_directory_path() / "hwmon-XXXXXX").string();
    const std::filesystem::path root = ::mkdtemp(made.data());

    ~FakeHwmon() { std::filesystem::remove_all(root); }

    std::filesystem::path classDir() const { return root / "class/hwmon"; }

    // Chip hwmonN of the device at devices/<devicePath>, each "name=value" written as sysfs
    // shows it, in hwmonN/ or, as applesmc keeps them, on the device. Returns where.
    std::filesystem::path addChip(unsigned n, const std::string& devicePath,
                                  const std::vector<std::string>& attributes,
                                  bool onDevice = false) {
        namespace fs = std::filesystem;
        std::string hwmon = "hwmon" + std::to_string(n);
        fs::path device = root / "devices" / devicePath, dir = device / "hwmon" / hwmon;
        fs::create_directories(dir);
        fs::create_directories(classDir());
        fs::create_directory_symlink(fs::path("../../..") / device.filename(), dir / "device");
        fs::create_directory_symlink(fs::path("../../devices") / devicePath / "hwmon" / hwmon,
                                     classDir() / hwmon);
        for (const std::string& attribute : attributes) {
            auto equals = attribute.find('=');
            writeFile((onDevice ? device : dir) / attribute.substr(0, equals),
                      attribute.substr(equals + 1) + "\n");
        }
        return onDevice ? device : dir;
    }
};
