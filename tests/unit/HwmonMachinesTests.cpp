#include "Agent/Fans.h"
#include "Agent/TemperatureSensors.h"
#include "Platform/linux/sensors/HwmonSmc.h"
#include "support/FakeHwmon.h"

#include <gtest/gtest.h>

// A fan as the report of a failure shows it.
void PrintTo(const FanReading& fan, std::ostream* out) {
    *out << "fan " << fan.id << ": " << fan.currentRPM << " rpm, "
         << testing::PrintToString(fan.minimumRPM) << " to "
         << testing::PrintToString(fan.maximumRPM);
}

// Each kind of machine as its drivers lay it out in hwmon (per Documentation/hwmon/ and
// the drivers' label tables), read the whole way the agent reads it: the stand-in SMC, the
// processor's key lists and their average, the fan count and the fans.

namespace {

struct Chip {
    std::string name; // the driver's "name" attribute
    std::vector<std::string> attributes;
    bool onDevice = false; // attributes on the device, as applesmc and old kernels keep them
};

struct Machine {
    std::string kind;
    std::optional<std::string> processorName;
    std::vector<Chip> chips;
    std::vector<NvmlDeviceReadings> nvidia;
    std::optional<double> cpu, gpu;
    std::optional<int> fanCount;
    std::vector<FanReading> fans;
};

// A fan without limits.
FanReading fan(std::int64_t id, double rpm) {
    return {id, rpm, std::nullopt, std::nullopt};
}

const std::string intel = "Intel(R) Core(TM) i7-9700K CPU @ 3.60GHz";
const std::string amd = "AMD Ryzen 7 2700X Eight-Core Processor";
const std::string arm = "ARM Cortex-A72";

// Sensors every PC has beside the processor's and the GPU's, none of which may stand in
// for them: the board's Super I/O, the chipset, a drive, an ACPI zone, Wi-Fi, a battery.
const std::vector<Chip> otherParts{
    {"acpitz", {"temp1_input=27800", "temp2_input=29800"}},
    {"nct6798",
     {"temp1_label=SYSTIN", "temp1_input=35000", "temp2_label=CPUTIN", "temp2_input=71000",
      "temp7_label=PECI Agent 0", "temp7_input=70000"}},
    {"pch_cannonlake", {"temp1_input=52000"}},
    {"nvme", {"temp1_label=Composite", "temp1_input=44850", "temp2_label=Sensor 1"}},
    {"iwlwifi_1", {"temp1_input=40000"}},
    {"BAT0", {"temp1_input=31000", "in0_input=12400"}},
};

std::vector<Chip> with(std::vector<Chip> chips, const std::vector<Chip>& more = otherParts) {
    chips.insert(chips.end(), more.begin(), more.end());
    return chips;
}

std::vector<std::string> numberedFans(const std::vector<std::string>& speeds) {
    std::vector<std::string> attributes;
    for (std::size_t i = 0; i < speeds.size(); ++i)
        attributes.push_back("fan" + std::to_string(i + 1) + "_input=" + speeds[i]);
    return attributes;
}

const std::vector<Machine>& machines() {
    static const std::vector<Machine> table{
        {"Intel desktop: the package, not the mean of package and cores",
         intel,
         with({{"coretemp",
                {"temp1_label=Package id 0", "temp1_input=59000", "temp2_label=Core 0",
                 "temp2_input=50000", "temp3_label=Core 1", "temp3_input=58000"}},
               {"it8686", {"fan1_input=1100", "fan1_min=400", "fan2_input=0"}}}),
         {},
         59,
         std::nullopt,
         2,
         {{0, 1100, 400, std::nullopt}, fan(1, 0)}},
        {"Intel on kernels that write Physical id",
         intel,
         {{"coretemp",
           {"temp1_label=Physical id 0", "temp1_input=51000", "temp2_label=Core 0",
            "temp2_input=34000", "temp3_label=Core 1", "temp3_input=40000"},
           true}},
         {},
         51,
         std::nullopt,
         0,
         {}},
        {"Intel before Sandy Bridge: cores only, the hottest",
         "Intel(R) Core(TM)2 Duo CPU",
         {{"coretemp",
           {"temp2_label=Core 0", "temp2_input=45000", "temp3_label=Core 1", "temp3_input=48000"}}},
         {},
         48,
         std::nullopt,
         0,
         {}},
        {"Two-socket Xeon: the hotter package, though both name their cores alike",
         "Intel(R) Xeon(R) Gold 6130 CPU @ 2.10GHz",
         with({{"coretemp",
                {"temp1_label=Package id 0", "temp1_input=55000", "temp2_label=Core 0",
                 "temp2_input=54000"}},
               {"coretemp",
                {"temp1_label=Package id 1", "temp1_input=62000", "temp2_label=Core 0",
                 "temp2_input=61000"}}}),
         {},
         62,
         std::nullopt,
         0,
         {}},
        {"AMD before Zen: k10temp's unlabelled temp1; radeon's temp1",
         "AMD Phenom(tm) II X4 965 Processor",
         with({{"k10temp", {"temp1_input=42125", "temp1_max=70000"}},
               {"radeon", {"temp1_input=55000", "temp1_crit=120000"}}}),
         {},
         42.125,
         55,
         0,
         {}},
        {"Zen 2: Tctl alone, core complexes aside",
         amd,
         with({{"k10temp",
                {"temp1_label=Tctl", "temp1_input=48500", "temp3_label=Tccd1", "temp3_input=45250",
                 "temp4_label=Tccd2", "temp4_input=52000"}}}),
         {},
         48.5,
         std::nullopt,
         0,
         {}},
        {"Zen+ whose Tctl runs 20 degrees above Tdie; amdgpu's edge; its fan at rest",
         amd,
         with({{"k10temp",
                {"temp1_label=Tctl", "temp1_input=70000", "temp2_label=Tdie", "temp2_input=50000"}},
               {"amdgpu",
                {"temp1_label=edge", "temp1_input=40000", "temp2_label=junction",
                 "temp2_input=47000", "temp3_label=mem", "temp3_input=50000", "fan1_input=0",
                 "fan1_min=0", "fan1_max=3300"}}}),
         {},
         50,
         40,
         1,
         {{0, 0, std::nullopt, 3300}}},
        {"Threadripper whose Tdie is out of range: Tctl stands in",
         amd,
         {{"k10temp",
           {"temp1_label=Tctl", "temp1_input=48000", "temp2_label=Tdie", "temp2_input=-27000"}}},
         {},
         48,
         std::nullopt,
         0,
         {}},
        {"zenpower: Tdie",
         amd,
         {{"zenpower",
           {"temp1_label=Tdie", "temp1_input=41000", "temp2_label=Tctl", "temp2_input=51000",
            "temp3_label=Tccd1", "temp3_input=39000", "in1_label=SVI2_Core", "in1_input=1200"}}},
         {},
         41,
         std::nullopt,
         0,
         {}},
        {"Athlon 64: k8temp's hottest core",
         "AMD Athlon(tm) 64 X2 Dual Core Processor 4200+",
         {{"k8temp",
           {"temp1_label=Core0 Temp", "temp1_input=40000", "temp2_label=Core0 Temp",
            "temp2_input=44000", "temp3_label=Core1 Temp", "temp3_input=42000"}}},
         {},
         44,
         std::nullopt,
         0,
         {}},
        {"APU on a kernel before amdgpu's labels; a GPU asleep reads nothing",
         amd,
         {{"k10temp", {"temp1_label=Tctl", "temp1_input=61000"}},
          {"amdgpu", {"temp1_input=45000"}},
          {"amdgpu", {"temp1_label=edge", "temp2_label=junction", "fan1_input=0"}}},
         {},
         61,
         45,
         1,
         {fan(0, 0)}},
        {"Raspberry Pi: the SoC's cpu_thermal zone",
         arm,
         {{"cpu_thermal", {"temp1_input=48500"}}, {"rpi_volt", {"in0_lcrit_alarm=0"}}},
         {},
         48.5,
         std::nullopt,
         0,
         {}},
        {"RK3588 board: the hottest processor zone, the GPU's zone, DDR and NPU aside",
         arm,
         {{"soc_thermal", {"temp1_input=45000"}},
          {"bigcore0_thermal", {"temp1_input=47000"}},
          {"littlecore_thermal", {"temp1_input=44000"}},
          {"center_thermal", {"temp1_input=43000"}},
          {"gpu_thermal", {"temp1_input=42000"}},
          {"npu_thermal", {"temp1_input=60000"}},
          {"ddr_thermal", {"temp1_input=65000"}},
          {"pwmfan", {"fan1_input=2100"}}},
         {},
         47,
         42,
         1,
         {fan(0, 2100)}},
        {"arm64 server: X-Gene's SoC temperature, not the ACPI zone",
         "APM X-Gene",
         {{"acpitz", {"temp1_input=75000"}},
          {"apm_xgene",
           {"temp1_label=SoC Temperature", "temp1_input=40000", "power1_label=CPU power"}}},
         {},
         40,
         std::nullopt,
         0,
         {}},
        {"Intel Mac: applesmc's own keys and the averaging, stand-ins only where it has none",
         "Intel(R) Core(TM) i7-4870HQ CPU @ 2.50GHz",
         {{"coretemp", {"temp1_label=Package id 0", "temp1_input=60000"}},
          {"applesmc",
           {"temp1_label=TC0P", "temp1_input=47500", "temp2_label=TC0D", "temp2_input=50000",
            "temp3_label=TC0H", "temp3_input=48000", "temp4_label=TB0T", "temp4_input=30000",
            "fan1_input=1998", "fan1_min=1200", "fan1_max=6200"},
           true},
          {"radeon", {"temp1_input=61000"}}},
         {},
         48.5,
         61,
         1,
         {{0, 1998, 1200, 6200}}},
        {"NVIDIA's own driver: no hwmon chip, the management library's readings",
         intel,
         with({{"coretemp", {"temp1_label=Package id 0", "temp1_input=50000"}},
               {"nct6798", {"fan1_input=800", "fan2_input=nonsense"}}},
              {}),
         {{std::nullopt, 64, {1450}}, {std::nullopt, std::nullopt, {900}}},
         50,
         64,
         3,
         {fan(0, 800), fan(1, 1450), fan(2, 900)}},
        {"nouveau",
         intel,
         {{"nouveau", {"temp1_input=50000", "fan1_input=1500"}}},
         {},
         std::nullopt,
         50,
         1,
         {fan(0, 1500)}},
        {"Intel Arc under xe: the package, not the video memory",
         intel,
         {{"xe",
           {"temp2_label=pkg", "temp2_input=55000", "temp3_label=vram", "temp3_input=60000"}}},
         {},
         std::nullopt,
         55,
         0,
         {}},
        {"Workstation board with 16 headers: fans that turn keep their places",
         intel,
         {{"nct6799", numberedFans({"1200", "0", "0", "0", "900", "0", "0", "0", "x", "0", "0", "0",
                                    "0", "0", "0", "700"})},
          {"amdgpu", {"temp1_label=edge", "temp1_input=38000", "fan1_input=1300"}}},
         {},
         std::nullopt,
         38,
         8,
         {fan(0, 1200), fan(1, 0), fan(2, 0), fan(3, 0), fan(4, 900), fan(5, 0), fan(6, 700),
          fan(7, 1300)}},
        {"ThinkPad: the processor's package, not the embedded controller's figure",
         intel,
         with({{"coretemp", {"temp1_label=Package id 0", "temp1_input=52000"}},
               {"thinkpad", {"temp1_input=55000", "temp2_input=48000", "fan1_input=2900"}}}),
         {},
         52,
         std::nullopt,
         1,
         {fan(0, 2900)}},
        {"Dell notebook: dell_smm's CPU and GPU are the controller's; a fan that fails "
         "is no fan",
         intel,
         with({{"dell_smm",
                {"temp1_label=CPU", "temp1_input=60000", "temp2_label=GPU", "temp2_input=57000",
                 "fan1_input=2400", "fan2_input="}},
               {"coretemp", {"temp1_label=Package id 0", "temp1_input=58000"}}}),
         {},
         58,
         std::nullopt,
         1,
         {fan(0, 2400)}},
        {"No chip and no NVIDIA device: no SMC at all",
         intel,
         {},
         {},
         std::nullopt,
         std::nullopt,
         std::nullopt,
         {}},
    };
    return table;
}

struct Readings {
    std::optional<double> cpu, gpu;
    std::optional<int> fanCount;
    std::vector<FanReading> fans;
};

Readings readMachine(const Machine& machine) {
    FakeHwmon tree;
    for (std::size_t i = 0; i < machine.chips.size(); ++i) {
        const Chip& chip = machine.chips[i];
        std::vector<std::string> attributes{"name=" + chip.name};
        attributes.insert(attributes.end(), chip.attributes.begin(), chip.attributes.end());
        tree.addChip(unsigned(i), "platform/" + chip.name + "." + std::to_string(i), attributes,
                     chip.onDevice);
    }
    auto reader = SMCReader::open(openStandInSmc(findHwmonChips(tree.classDir()), machine.nvidia));
    if (!reader)
        return {};
    std::optional<int> count = readFanCount(*reader);
    return {averageTemperature(cpuTemperatureKeys(machine.processorName), *reader),
            averageTemperature(gpuTemperatureKeys(machine.processorName), *reader), count,
            readFans(count, *reader)};
}

} // namespace

TEST(HwmonMachines, EachDriverGivesThePartsOwnReadingAndEveryFan) {
    for (const Machine& machine : machines()) {
        Readings read = readMachine(machine);
        EXPECT_EQ(std::tie(read.cpu, read.gpu, read.fanCount, read.fans),
                  std::tie(machine.cpu, machine.gpu, machine.fanCount, machine.fans))
            << machine.kind;
    }
}
