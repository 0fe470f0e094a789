#include "Agent/SMCReader.h"
#include "Platform/linux/HwmonSmc.h"
#include "support/FakeHwmon.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using Place = FakeHwmon::Place;

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

TEST(HwmonSmc, WithoutANamedChipThereIsNoSmc) {
    FakeHwmon tree;
    EXPECT_EQ(openOn(tree), nullptr);
    tree.addChip(0, "virtual/thermal/thermal_zone0", {"temp1_input=40000"});
    EXPECT_EQ(openOn(tree), nullptr);
    EXPECT_EQ(openHwmonSmc(tree.root / "absent"), nullptr);
}

TEST(HwmonSmc, AppleSmcLabelsOnItsDeviceAreKeysAndWinOverStandIns) {
    FakeHwmon tree;
    tree.addChip(0, "platform/coretemp.0",
                 {"name=coretemp", "temp1_label=Package id 0", "temp1_input=61000",
                  "temp2_label=Core 0", "temp2_input=58000"});
    auto device =
        tree.addChip(1, "platform/applesmc.768",
                     {"name=applesmc", "temp1_label=TC0P", "temp1_input=47500", "temp2_label=Th1H",
                      "temp2_input=38250", "fan1_input=1998", "fan1_min=1200", "fan1_max=6200"},
                     Place::deviceDir);
    auto reader = openOn(tree);
    expectReadings(*reader,
                   "TC0P=47.5 Th1H=38.25 TC0C=58 TC1P FNum=1 F0Ac=1998 F0Mn=1200 F0Mx=6200 F1Ac");
    // A connection reads each value once, so a key's two calls agree; the next reads afresh.
    writeFile(device / "temp1_input", "62001\n");
    expectReadings(*reader, "TC0P=47.5");
    expectReadings(*openOn(tree), "TC0P=62.001");
}

TEST(HwmonSmc, OtherChipsStandInForPackageCoresGpuAndFansInChipOrder) {
    FakeHwmon tree;
    tree.addChip(2, "platform/nct6775.656",
                 {"name=nct6798", "fan1_input=1050", "fan2_input=0", "fan2_min=300"});
    tree.addChip(3, "platform/coretemp.0",
                 {"name=coretemp", "temp1_label=Package id 0", "temp1_input=61000",
                  "temp2_label=Core 1", "temp2_input=60000", "temp3_label=Core 12",
                  "temp3_input=99000"});
    tree.addChip(4, "pci0000:00/0000:03:00.0",
                 {"name=amdgpu", "temp1_label=edge", "temp1_input=45000", "temp2_label=junction",
                  "temp2_input=48125", "fan1_input=812", "fan1_min=0", "fan1_max=3300"});
    tree.addChip(10, "pci0000:00/0000:01:00.0",
                 {"name=nouveau", "temp1_input=39000", "fan1_input=20000"});
    // hwmon10 comes last; a fan minimum of 0 is no reading.
    expectReadings(*openOn(tree), "TC0P=61 TC1C=60 TC2C TG0D=45 TG0H=48.125 FNum=4 F0Ac=1050 "
                                  "F1Ac=0 F1Mn=300 F1Mx F2Ac=812 F2Mn F2Mx=3300 F3Ac=20000");
    // Only the first 8 fans: more would be no fan count at all.
    tree.addChip(11, "platform/it87.2608",
                 {"name=it8688", "fan1_input=1", "fan2_input=2", "fan3_input=3", "fan4_input=4",
                  "fan5_input=5"});
    expectReadings(*openOn(tree), "FNum=8 F3Ac=20000 F4Ac=1 F7Ac=4 F8Ac");

    FakeHwmon amd;
    amd.addChip(0, "pci0000:00/0000:00:18.3",
                {"name=k10temp", "temp1_label=Tctl", "temp1_input=68875", "temp3_label=Tccd1",
                 "temp3_input=59000"});
    amd.addChip(1, "pci0000:00/0000:01:00.0", {"name=nouveau", "temp1_input=39000"});
    expectReadings(*openOn(amd), "TC0P=68.875 TC0C TG0D=39 FNum=0");
}

TEST(HwmonSmc, ReadingsDecodeBackAndUnparsableOnesAreMissingKeys) {
    FakeHwmon tree;
    auto device =
        tree.addChip(0, "platform/applesmc.768",
                     {"name=applesmc", "temp1_label=Ta01", "temp1_input=47001", "temp2_label=Ta02",
                      "temp2_input=-5000", "temp3_label=Ta03", "temp3_input=255996",
                      "temp4_label=Ta04", "temp4_input=125", "temp5_label=Ta05", "temp5_input=0",
                      "fan1_input=16383", "fan2_input=16384", "fan3_input=0", "fan4_input=12x"},
                     Place::deviceDir);
    // A temperature of 0 is all-zero bytes, which a temperature key cannot hold.
    std::string expected = "Ta01=47.001 Ta02=-5 Ta03=255.996 Ta04=0.125 Ta05 "
                           "F0Ac=16383 F1Ac=16384 F2Ac=0 F3Ac";
    unsigned n = 10;
    for (const std::string& garbage : std::initializer_list<std::string>{
             "abc\n", "\n", "61.5\n", "+61000\n", "99999999999999999999\n", "61000\n\n", " 61000\n",
             std::string(100, '1')}) {
        std::string file = "temp" + std::to_string(n), key = "Tz" + std::to_string(n++);
        writeFile(device / (file + "_label"), key + "\n");
        writeFile(device / (file + "_input"), garbage);
        expected += " " + key;
    }
    expectReadings(*openOn(tree), expected);
}
