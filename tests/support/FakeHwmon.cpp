#include "FakeHwmon.h"

#include <fstream>

namespace fs = std::filesystem;

FakeHwmon::FakeHwmon(fs::path root) : root(std::move(root)) {
    fs::remove_all(this->root);
    fs::create_directories(classDir());
    fs::create_directories(this->root / "devices");
}

FakeHwmon::~FakeHwmon() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

fs::path FakeHwmon::addHwmonDir(unsigned n, const std::string& devicePath) {
    std::string hwmon = "hwmon" + std::to_string(n);
    fs::path device = root / "devices" / devicePath;
    fs::path dir = device / "hwmon" / hwmon;
    fs::create_directories(dir);
    fs::create_directory_symlink(fs::path("../../..") / device.filename(), dir / "device");
    fs::create_directory_symlink(fs::path("../../devices") / devicePath / "hwmon" / hwmon,
                                 classDir() / hwmon);
    rawFile(dir / "uevent", "");
    return dir;
}

fs::path FakeHwmon::addChip(unsigned n, const std::string& devicePath, const std::string& name) {
    fs::path dir = addHwmonDir(n, devicePath);
    attribute(dir, "name", name);
    return dir;
}

fs::path FakeHwmon::addDeviceChip(unsigned n, const std::string& devicePath,
                                  const std::string& name) {
    addHwmonDir(n, devicePath);
    fs::path device = root / "devices" / devicePath;
    attribute(device, "name", name);
    return device;
}

void FakeHwmon::attribute(const fs::path& dir, const std::string& name, const std::string& value) {
    rawFile(dir / name, value + "\n");
}

void FakeHwmon::rawFile(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}
