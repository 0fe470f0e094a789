#include "support/SimulatedSMC.h"

#include <gtest/gtest.h>

using Bytes = std::vector<std::uint8_t>;

TEST(SMCReader, DecodesByExactTypeAndTakesZeroOnlyForFanCountAndSpeeds) {
    const auto none = std::optional<double>();
    const struct {
        const char* key;
        const char* type;
        Bytes bytes; // their count is the data size
        std::optional<double> value;
    } cases[] = {
        {"TC0P", "sp78", {0x2F, 0x80}, 47.5},
        {"TEST", "ui8 ", {0xC8}, 200.0},
        {"TEST", "ui16", {0x12}, 4608.0},
        {"TEST", "ui32", {0x81, 0x02, 0x03, 0x04}, 2164392708.0},
        {"TEST", "fpe2", {0x1F, 0x43}, 2000.0},
        {"TEST", "flt ", {0x00, 0x00, 0xFA, 0x44}, 2000.0},
        {"TEST", "flt", {0x00, 0x00, 0xFA, 0x44}, none},
        {"TEST", "s\xF0\x37\x38", {0x2F, 0x80}, none},
        {"TEST", "ui8 ", Bytes(32, 9), 9.0},
        {"TEST", "ui8 ", Bytes(33, 9), none},
        {"F0Ac", "fpe2", {0, 0}, 0.0},
        {"FNum", "ui8 ", {0}, 0.0},
        {"F0Mn", "fpe2", {0, 0}, none},
        {"FxAc", "fpe2", {0, 0}, none},
        {"FNu", "ui8 ", {2}, none},
    };
    auto read = [](const char* key, const char* type, const Bytes& bytes) {
        SimulatedSMC smc;
        smc.set(key, type, bytes);
        return smc.openReader()->readValue(key);
    };
    for (const auto& [key, type, bytes, value] : cases)
        EXPECT_EQ(read(key, type, bytes), value) << key << " " << type << " " << bytes.size();
    const std::pair<const char*, double> fixed[] = {{"sp1e", 16384}, {"sp3c", 4096}, {"sp4b", 2048},
                                                    {"sp5a", 1024},  {"sp69", 512},  {"sp78", 256},
                                                    {"sp87", 128},   {"sp96", 64},   {"spa5", 32},
                                                    {"spb4", 16},    {"spf0", 1}};
    for (auto [type, divisor] : fixed)
        EXPECT_EQ(read("TEST", type, {0xFF, 0x01}), 65281.0 / divisor) << type;
}
