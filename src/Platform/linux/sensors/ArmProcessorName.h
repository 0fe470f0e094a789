#pragma once

#include <optional>
#include <string>
#include <string_view>

// A name for an Arm processor from the identification that arm64 kernels write in
// /proc/cpuinfo in place of a "model name": the "CPU implementer" and "CPU part" codes
// of the main ID register, as "0x41" and "0xd08". "ARM Cortex-A72" where both are known,
// "ARM part 0xd4f" where the part is not, "implementer 0x6d part 0x123" where neither is;
// nothing when a code is not a hexadecimal number.
std::optional<std::string> armProcessorName(std::string_view implementer, std::string_view part);
