#pragma once

#include <optional>
#include <string>
#include <string_view>

// What a hwmon chip's temperatures can stand for.
enum class SensedPart { processor, graphics };

// The part whose own sensor the driver `chip` reads, or nothing for a chip that senses
// anything else (a board, chipset, drive, battery or ACPI zone) or that is applesmc,
// whose labels are SMC keys already.
std::optional<SensedPart> sensedPart(std::string_view chip);

// Where input tempN (`number`, with its label when the driver writes one) ranks among
// the chip's readings of its part: 0 is the driver's figure for the whole part (a
// package, a die), higher ranks stand in only when no lower rank gives a reading, and
// nothing means the input measures something else (a core complex, memory, a regulator).
std::optional<int> temperatureRank(std::string_view chip, unsigned number,
                                   const std::optional<std::string>& label);
