#include "Agent/SMCReader.h"
#include "Platform/linux/sensors/HwmonSmc.h"
#include "support/FakeHwmon.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::unique_ptr<SMCReader> openOn(const FakeHwmon& tree) {
    return SMCReader::open(openStandInSmc(findHwmonChips(tree.classDir()), {}));
}

// "KEY=VALUE KEY ...": each key reads the value, as single precision gives it, or nothing.
void expectReadings(SMCReader& reader, const std::string& expected) {
    std::istringstream words(expected);
    for (std::string word; words >> word;) {
        auto equals = word.find('=');
        std::optional<double> value;
        if (equals != std::string::npos)
            value = std::stof(word.substr(equals + 1));
        EXPECT_EQ(reader.readValue(word.substr(0, equals)), value) << word;
    }
}

} // namespace

// applesmc's keys are read when first asked for and kept for the connection, so a key's
// two calls agree; the next connection reads afresh.
TEST(HwmonSmc, AConnectionReadsEachKeyOnce) {
    FakeHwmon tree;
    auto smc = tree.addChip(0, "platform/applesmc.768",
                            {"name=applesmc", "temp1_label=TC0P", "temp1_input=47500"}, true);
    auto reader = openOn(tree);
    expectReadings(*reader, "TC0P=47.5");
    writeFile(smc / "temp1_input", "62001\n");
    expectReadings(*reader, "TC0P=47.5");
    expectReadings(*openOn(tree), "TC0P=62.001");
}

TEST(HwmonSmc, ReadingsDecodeBackAndUnparsableOnesAreMissingKeys) {
    FakeHwmon tree;
    tree.addChip(0, "platform/applesmc.768",
                 {"name=applesmc", "temp1_label=Ta01", "temp1_input=47001", "temp2_label=Ta02",
                  "temp2_input=-5000", "temp3_label=Ta03", "temp3_input=255996", "temp4_label=Ta04",
                  "temp4_input=0", "temp5_label=Ta05", "temp5_input=61.5", "temp6_label=Ta06",
                  "temp6_input=+61000", "temp7_label=Ta07", "temp7_input=99999999999999999999",
                  "fan1_input=16383", "fan2_input=16384", "fan3_input=0", "fan4_input=12x"},
                 true);
    // A temperature of 0 is all-zero bytes, which a temperature key cannot hold.
    expectReadings(*openOn(tree), "Ta01=47.001 Ta02=-5 Ta03=255.996 Ta04 Ta05 Ta06 Ta07 "
                                  "F0Ac=16383 F1Ac=16384 F2Ac=0 F3Ac");
}
