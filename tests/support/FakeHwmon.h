#pragma once

#include <filesystem>
#include <string>

// A sysfs tree laid out as the kernel lays out hwmon: each chip's hwmonN directory under
// its device in devices/, and class/hwmon/hwmonN a relative link to it. Removed again
// when destroyed.
class FakeHwmon {
  public:
    explicit FakeHwmon(std::filesystem::path root);
    ~FakeHwmon();
    FakeHwmon(const FakeHwmon&) = delete;
    FakeHwmon& operator=(const FakeHwmon&) = delete;

    const std::filesystem::path root;
    std::filesystem::path classDir() const { return root / "class" / "hwmon"; }

    // A chip registered with its attributes in hwmonN/ (coretemp, k10temp, amdgpu...),
    // under the device at `devicePath` (relative to devices/). Returns hwmonN/.
    std::filesystem::path addChip(unsigned n, const std::string& devicePath,
                                  const std::string& name);
    // A chip whose driver keeps name and attributes on its own device (applesmc).
    // Returns the device directory.
    std::filesystem::path addDeviceChip(unsigned n, const std::string& devicePath,
                                        const std::string& name);

    // Writes one attribute as sysfs shows it: the text and a line feed.
    static void attribute(const std::filesystem::path& dir, const std::string& name,
                          const std::string& value);
    // Writes a file with exactly these bytes.
    static void rawFile(const std::filesystem::path& file, const std::string& bytes);

  private:
    std::filesystem::path addHwmonDir(unsigned n, const std::string& devicePath);
};
