#include "Agent/SMCReader.h"
#include "Platform/linux/HwmonSmc.h"
#include "support/FakeHwmon.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

std::unique_ptr<SMCReader> openOn(const FakeHwmon& tree) {
    return SMCReader::open(openHwmonSmc(tree.classDir()));
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

// applesmc's labels are keys and win over stand-ins; other chips stand in, in chip order,
// for the package, cores, GPU and the first 8 fans (more would be no fan count at all).
TEST(HwmonSmc, ApplesmcKeysThenStandInsFromOtherChipsInChipOrder) {
    FakeHwmon tree;
    tree.addChip(0, "platform/coretemp.0",
                 {"name=coretemp", "temp1_label=Package id 0", "temp1_input=61000",
                  "temp2_label=Core 1", "temp2_input=60000", "temp3_label=Core 12",
                  "temp3_input=99000"});
    auto smc = tree.addChip(1, "platform/applesmc.768",
                            {"name=applesmc", "temp1_label=TC0P", "temp1_input=47500",
                             "fan1_input=1998", "fan1_min=1200", "fan1_max=6200"},
                            true);
    tree.addChip(2, "pci0000:00/0000:03:00.0",
                 {"name=amdgpu", "temp1_label=edge", "temp1_input=45000", "temp2_label=junction",
                  "temp2_input=48125", "fan1_input=812", "fan1_min=0", "fan1_max=3300"});
    tree.addChip(10, "pci0000:00/0000:01:00.0", {"name=nouveau", "fan1_input=20000"});
    tree.addChip(11, "platform/it87.2608",
                 {"name=it8688", "fan1_input=1", "fan2_input=2", "fan3_input=3", "fan4_input=4",
                  "fan5_input=5", "fan6_input=6"});
    auto reader = openOn(tree);
    expectReadings(*reader, "TC0P=47.5 TC1C=60 TC2C TG0D=45 TG0H=48.125 FNum=8 F0Ac=1998 "
                            "F0Mn=1200 F0Mx=6200 F1Ac=812 F1Mn F1Mx=3300 F2Ac=20000 F3Ac=1 "
                            "F7Ac=5 F8Ac");
    // A connection reads each value once, so a key's two calls agree; the next reads afresh.
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
