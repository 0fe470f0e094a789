#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// One hwmon chip as the kernel lists it under /sys/class/hwmon.
struct HwmonChip {
    std::string name;
    std::filesystem::path dir;          // where its attributes are
    std::vector<unsigned> temperatures; // N of each tempN_input, ascending
    std::vector<unsigned> fans;         // N of each fanN_input, ascending
};

// The chips in hwmonN order. Attributes sit in hwmonN/ itself or, for drivers that put
// them on their own device (applesmc), in hwmonN/device/: the one holding "name" counts.
// Entries without a name are not chips.
std::vector<HwmonChip> findHwmonChips(const std::filesystem::path& classDir);
