#include "Agent/Collector.h"
#include "Agent/SMCReader.h"
#include "Platform/linux/HwmonSmc.h"
#include "support/FakeHwmon.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace fs = std::filesystem;
using Tree = FakeHwmon;

namespace {

class HwmonSmcTree : public ::testing::Test {
  protected:
    FakeHwmon tree{fs::temp_directory_path() /
                   ("hwmon-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name())};

    std::unique_ptr<SMCReader> open() { return SMCReader::open(openHwmonSmc(tree.classDir())); }

    // An Intel Mac: applesmc keeps its attributes on the platform device.
    fs::path addAppleSmc(unsigned n) {
        fs::path device = tree.addDeviceChip(n, "platform/applesmc.768", "applesmc");
        Tree::attribute(device, "temp1_label", "TC0P");
        Tree::attribute(device, "temp1_input", "47500");
        Tree::attribute(device, "temp2_label", "TG0P");
        Tree::attribute(device, "temp2_input", "52000");
        Tree::attribute(device, "temp3_label", "Th1H");
        Tree::attribute(device, "temp3_input", "38250");
        Tree::attribute(device, "fan1_label", "Exhaust");
        Tree::attribute(device, "fan1_input", "1998");
        Tree::attribute(device, "fan1_min", "1200");
        Tree::attribute(device, "fan1_max", "6200");
        Tree::attribute(device, "fan1_output", "0");
        Tree::attribute(device, "key_count", "312");
        return device;
    }

    fs::path addCoretemp(unsigned n) {
        fs::path chip = tree.addChip(n, "platform/coretemp.0", "coretemp");
        Tree::attribute(chip, "temp1_label", "Package id 0");
        Tree::attribute(chip, "temp1_input", "61000");
        Tree::attribute(chip, "temp1_crit", "100000");
        const char* cores[][2] = {
            {"Core 0", "58000"}, {"Core 1", "60000"}, {"Core 4", "57000"}, {"Core 12", "99000"}};
        for (unsigned i = 0; i < 4; ++i) {
            std::string base = "temp" + std::to_string(i + 2);
            Tree::attribute(chip, base + "_label", cores[i][0]);
            Tree::attribute(chip, base + "_input", cores[i][1]);
        }
        return chip;
    }

    fs::path addAmdgpu(unsigned n) {
        fs::path chip = tree.addChip(n, "pci0000:00/0000:00:03.1/0000:03:00.0", "amdgpu");
        Tree::attribute(chip, "temp1_label", "edge");
        Tree::attribute(chip, "temp1_input", "45000");
        Tree::attribute(chip, "temp2_label", "junction");
        Tree::attribute(chip, "temp2_input", "48125");
        Tree::attribute(chip, "temp3_label", "mem");
        Tree::attribute(chip, "temp3_input", "50000");
        Tree::attribute(chip, "fan1_input", "812");
        Tree::attribute(chip, "fan1_min", "0");
        Tree::attribute(chip, "fan1_max", "3300");
        return chip;
    }
};

} // namespace

TEST_F(HwmonSmcTree, NoChipMeansTheSmcDoesNotOpen) {
    EXPECT_EQ(open(), nullptr);
    // An hwmon entry without a name anywhere is not a chip.
    fs::path nameless = tree.addChip(0, "virtual/thermal/thermal_zone0", "x");
    fs::remove(nameless / "name");
    Tree::attribute(nameless, "temp1_input", "40000");
    EXPECT_EQ(open(), nullptr);
    EXPECT_EQ(openHwmonSmc(tree.root / "absent"), nullptr);
}

TEST_F(HwmonSmcTree, AppleSmcTemperaturesKeepTheirOwnKeys) {
    addAppleSmc(0);
    auto reader = open();
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->readValue("TC0P"), 47.5);
    EXPECT_EQ(reader->readValue("TG0P"), 52.0);
    EXPECT_EQ(reader->readValue("Th1H"), 38.25);
    EXPECT_EQ(reader->readValue("TC1P"), std::nullopt);
    EXPECT_EQ(reader->readValue("FNum"), 1.0);
    EXPECT_EQ(reader->readValue("F0Ac"), 1998.0);
    EXPECT_EQ(reader->readValue("F0Mn"), 1200.0);
    EXPECT_EQ(reader->readValue("F0Mx"), 6200.0);
    EXPECT_EQ(reader->readValue("F1Ac"), std::nullopt);
}

TEST_F(HwmonSmcTree, AppleSmcKeysWinOverStandIns) {
    addCoretemp(0);
    addAppleSmc(1);
    auto reader = open();
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->readValue("TC0P"), 47.5);
    EXPECT_EQ(reader->readValue("TC0C"), 58.0);
}

TEST_F(HwmonSmcTree, CoretempGivesPackageAndSingleDigitCores) {
    addCoretemp(3);
    auto reader = open();
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->readValue("TC0P"), 61.0);
    EXPECT_EQ(reader->readValue("TC0C"), 58.0);
    EXPECT_EQ(reader->readValue("TC1C"), 60.0);
    EXPECT_EQ(reader->readValue("TC4C"), 57.0);
    EXPECT_EQ(reader->readValue("TC2C"), std::nullopt);
    EXPECT_EQ(reader->readValue("FNum"), 0.0);
    EXPECT_EQ(reader->readValue("F0Ac"), std::nullopt);
}

TEST_F(HwmonSmcTree, K10tempControlTemperatureIsThePackage) {
    fs::path chip = tree.addChip(1, "pci0000:00/0000:00:18.3", "k10temp");
    Tree::attribute(chip, "temp1_label", "Tctl");
    Tree::attribute(chip, "temp1_input", "68875");
    Tree::attribute(chip, "temp3_label", "Tccd1");
    Tree::attribute(chip, "temp3_input", "59000");
    auto reader = open();
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->readValue("TC0P"), 68.875);
    EXPECT_EQ(reader->readValue("TC0C"), std::nullopt);
}

TEST_F(HwmonSmcTree, GpuEdgeAndJunctionAndFansInChipOrder) {
    fs::path board = tree.addChip(2, "platform/nct6775.656", "nct6798");
    Tree::attribute(board, "fan1_input", "1050");
    Tree::attribute(board, "fan2_input", "0");
    Tree::attribute(board, "fan2_min", "300");
    addAmdgpu(10);
    fs::path nouveau = tree.addChip(4, "pci0000:00/0000:00:01.0/0000:01:00.0", "nouveau");
    Tree::attribute(nouveau, "temp1_input", "39000");
    Tree::attribute(nouveau, "fan1_input", "20000");

    auto reader = open();
    ASSERT_TRUE(reader);
    // hwmon2, hwmon4, then hwmon10: the first GPU is the one that speaks for TG0D.
    EXPECT_EQ(reader->readValue("TG0D"), 39.0);
    EXPECT_EQ(reader->readValue("TG0H"), 48.125);
    EXPECT_EQ(reader->readValue("FNum"), 4.0);
    EXPECT_EQ(reader->readValue("F0Ac"), 1050.0);
    EXPECT_EQ(reader->readValue("F1Ac"), 0.0);
    EXPECT_EQ(reader->readValue("F1Mn"), 300.0);
    EXPECT_EQ(reader->readValue("F1Mx"), std::nullopt);
    EXPECT_EQ(reader->readValue("F2Ac"), 20000.0);
    EXPECT_EQ(reader->readValue("F3Ac"), 812.0);
    EXPECT_EQ(reader->readValue("F3Mn"), std::nullopt); // reads 0
    EXPECT_EQ(reader->readValue("F3Mx"), 3300.0);
}

TEST_F(HwmonSmcTree, ReadingsThatDoNotParseAreMissingKeys) {
    fs::path chip = tree.addChip(0, "platform/coretemp.0", "coretemp");
    const char* garbage[] = {"abc\n",    "",       "\n",       "61000 \n",
                             " 61000\n", "61.5\n", "+61000\n", "99999999999999999999\n",
                             "61000\n\n"};
    for (unsigned i = 0; i < std::size(garbage); ++i) {
        std::string base = "temp" + std::to_string(i + 1);
        Tree::attribute(chip, base + "_label", "Core " + std::to_string(i));
        Tree::rawFile(chip / (base + "_input"), garbage[i]);
    }
    Tree::attribute(chip, "temp10_label", "Package id 0");
    Tree::rawFile(chip / "temp10_input", std::string(100, '1'));
    Tree::rawFile(chip / "fan1_input", "12x\n");
    Tree::attribute(chip, "fan1_max", "5000");

    auto reader = open();
    ASSERT_TRUE(reader);
    for (unsigned i = 0; i < std::size(garbage); ++i) {
        std::string key = "TC" + std::to_string(i) + "C";
        EXPECT_EQ(reader->readValue(key), std::nullopt) << key;
    }
    EXPECT_EQ(reader->readValue("TC0P"), std::nullopt);
    EXPECT_EQ(reader->readValue("FNum"), 1.0);
    EXPECT_EQ(reader->readValue("F0Ac"), std::nullopt);
    EXPECT_EQ(reader->readValue("F0Mx"), 5000.0);
}

TEST_F(HwmonSmcTree, ValuesDecodeBackAsTheyWereRead) {
    fs::path chip = tree.addChip(0, "platform/coretemp.0", "coretemp");
    const std::pair<const char*, double> temperatures[] = {
        {"47001", double(47.001f)}, {"-5000", -5.0}, {"255996", double(255.996f)},
        {"300000", 300.0},          {"125", 0.125},  {"0", -1}};
    for (unsigned i = 0; i < std::size(temperatures); ++i) {
        std::string base = "temp" + std::to_string(i + 1);
        Tree::attribute(chip, base + "_label", "Core " + std::to_string(i));
        Tree::attribute(chip, base + "_input", temperatures[i].first);
    }
    const char* speeds[] = {"16383", "16384", "100000", "0"};
    for (unsigned i = 0; i < std::size(speeds); ++i)
        Tree::attribute(chip, "fan" + std::to_string(i + 1) + "_input", speeds[i]);

    auto reader = open();
    ASSERT_TRUE(reader);
    for (unsigned i = 0; i + 1 < std::size(temperatures); ++i)
        EXPECT_EQ(reader->readValue("TC" + std::to_string(i) + "C"), temperatures[i].second)
            << temperatures[i].first;
    // A temperature of exactly zero is all-zero bytes, which a temperature key cannot hold.
    EXPECT_EQ(reader->readValue("TC5C"), std::nullopt);
    EXPECT_EQ(reader->readValue("F0Ac"), 16383.0);
    EXPECT_EQ(reader->readValue("F1Ac"), 16384.0);
    EXPECT_EQ(reader->readValue("F2Ac"), 100000.0);
    EXPECT_EQ(reader->readValue("F3Ac"), 0.0);
}

TEST_F(HwmonSmcTree, EachConnectionReadsAValueOnceAndANewOneReadsAfresh) {
    fs::path chip = addCoretemp(0);
    auto first = open();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->readValue("TC0P"), 61.0);
    Tree::attribute(chip, "temp1_input", "62001");
    EXPECT_EQ(first->readValue("TC0P"), 61.0);
    EXPECT_EQ(open()->readValue("TC0P"), double(62.001f));
}

TEST_F(HwmonSmcTree, ManyFansCountAllButKeyOnlySingleDigits) {
    fs::path chip = tree.addChip(0, "platform/it87.2608", "it8688");
    for (unsigned n = 1; n <= 11; ++n)
        Tree::attribute(chip, "fan" + std::to_string(n) + "_input", std::to_string(1000 + n));
    auto reader = open();
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->readValue("FNum"), 11.0);
    EXPECT_EQ(reader->readValue("F9Ac"), 1010.0);
}

TEST_F(HwmonSmcTree, SnapshotOfAnOrdinaryPc) {
    addCoretemp(1);
    addAmdgpu(2);
    SnapshotSources sources{
        [] { return std::optional<std::string>("Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz"); },
        [] { return std::optional<GPUReading>(); },
        [this] { return open(); },
        [] { return 1.0; },
    };
    SensorSnapshot snapshot = collectSnapshot(sources);
    // Package 61, cores 58, 60 and 57 (Core 12 has no key).
    EXPECT_EQ(snapshot.cpuTemperatureCelsius, (58.0 + 60.0 + 57.0 + 61.0) / 4);
    EXPECT_EQ(snapshot.gpuTemperatureCelsius, (45.0 + 48.125) / 2);
    EXPECT_EQ(snapshot.fanCount, 1);
    EXPECT_EQ(snapshot.fans, (std::vector<FanReading>{{0, 812, std::nullopt, 3300}}));
}
