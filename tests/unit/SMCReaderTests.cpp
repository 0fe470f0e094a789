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
        {"TEST", "sp78", {0xFF, 0x00}, 255.0},
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
        {"F9Ac", "flt ", {0, 0, 0, 0}, 0.0},
        {"FNum", "ui8 ", {0}, 0.0},
        {"F0Mn", "fpe2", {0, 0}, none},
        {"FxAc", "fpe2", {0, 0}, none},
    };
    auto read = [](const char* key, const char* type, const Bytes& bytes) {
        SimulatedSMC smc;
        smc.set(key, type, bytes);
        return smc.openReader()->readValue(key);
    };
    for (const auto& [key, type, bytes, value] : cases)
        EXPECT_EQ(read(key, type, bytes), value) << key << " " << type << " " << bytes.size();
    const char* fixed[] = {"sp1e", "sp3c", "sp4b", "sp5a", "sp69",
                           "sp87", "sp96", "spa5", "spb4", "spf0"};
    const double divisors[] = {16384, 4096, 2048, 1024, 512, 128, 64, 32, 16, 1};
    for (std::size_t i = 0; i < std::size(fixed); ++i)
        EXPECT_EQ(read("TEST", fixed[i], {0xFF, 0x01}), 65281.0 / divisors[i]) << fixed[i];
    EXPECT_EQ(fourCharCode("TC0P"), 0x54433050u); // the first character most significant
}

TEST(SMCReader, AsksOnlyForFourByteKeysAndClosesWhenReleased) {
    EXPECT_EQ(SMCReader::open(nullptr), nullptr);
    SimulatedSMC smc;
    smc.set("FNum", "ui8 ", {2});
    auto reader = smc.openReader();
    for (const char* key : {"FNu", "FNumX", "F\xC3\xB1um"})
        EXPECT_EQ(reader->readValue(key), std::nullopt) << key;
    EXPECT_EQ(reader->readValue("FNum"), 2.0);
    reader.reset();
    EXPECT_EQ(smc.log, (std::vector<std::string>{"open", "9 FNum", "5 FNum", "close"}));
}
