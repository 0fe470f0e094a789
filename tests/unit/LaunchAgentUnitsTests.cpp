#include "Platform/linux/LaunchAgentUnits.h"
#include "Shared/ServiceContract.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string plist(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + body +
           "</dict></plist>";
}

const std::string label = "<key>Label</key><string>org.example.Agent</string>";
const std::string program = "<key>BundleProgram</key><string>Contents/MacOS/Agent</string>";
const std::string service =
    "<key>MachServices</key><dict><key>org.example.service</key><true/></dict>";

LaunchAgentDefinition exampleAgent() {
    return {"org.example.Agent", "org.example.service", "Contents/MacOS/Agent"};
}

} // namespace

TEST(LaunchAgentPlist, BundledListAdvertisesTheServiceAndStartsTheAgentBare) {
    auto agent = parseLaunchAgent(readFile(LAUNCH_AGENT_PLIST));
    ASSERT_TRUE(agent);
    EXPECT_EQ(agent->label, "com.quillmarsh.CorvanePlugin.Agent");
    EXPECT_EQ(agent->machServiceName, contract::sensorMachServiceName);
    EXPECT_EQ(agent->bundleProgram, "Contents/MacOS/CorvanePluginAgent");
}

TEST(LaunchAgentPlist, ReadsTheExampleAndIgnoresOtherKeys) {
    auto agent =
        parseLaunchAgent(plist(label + program + service + "<key>RunAtLoad</key><false/>"));
    EXPECT_EQ(agent, exampleAgent());
}

TEST(LaunchAgentPlist, RefusesWhatCannotBecomeUnits) {
    const std::string twoServices = "<key>MachServices</key><dict><key>a.one</key><true/>"
                                    "<key>a.two</key><true/></dict>";
    const std::vector<std::string> refused = {
        "not a plist",
        plist(program + service),
        plist(label + service),
        plist(label + program),
        plist(label + program + twoServices),
        plist(label + program + "<key>MachServices</key><dict></dict>"),
        plist(label + program +
              "<key>MachServices</key><dict><key>org.example.service</key><false/></dict>"),
        plist("<key>Label</key><string>has space</string>" + program + service),
        plist("<key>Label</key><string>a%b</string>" + program + service),
        plist("<key>Label</key><string>../escape</string>" + program + service),
        plist(label + program + "<key>MachServices</key><dict><key>sub/dir</key><true/></dict>"),
        plist(label + "<key>BundleProgram</key><string>/usr/bin/agent</string>" + service),
        plist(label + "<key>BundleProgram</key><string>Contents/../../agent</string>" + service),
        plist(label + "<key>BundleProgram</key><string>Contents/Mac\nOS/Agent</string>" + service),
        plist(label + "<key>BundleProgram</key><string>Contents/\"Agent\"</string>" + service),
        plist("<key>Label</key><integer>3</integer>" + program + service),
    };
    for (const std::string& text : refused)
        EXPECT_EQ(parseLaunchAgent(text), std::nullopt) << text;
}

TEST(SystemdUnits, SocketUnitListensPrivatelyWhereClientsLook) {
    auto units = systemdUnitsFor(exampleAgent(), "/opt/Example.app");
    ASSERT_TRUE(units);
    EXPECT_EQ(units->socketUnitName, "org.example.Agent.socket");
    EXPECT_EQ(units->socketUnit, "[Unit]\n"
                                 "Description=org.example.Agent (socket)\n"
                                 "\n"
                                 "[Socket]\n"
                                 "ListenStream=%t/org.example.service\n"
                                 "SocketMode=0600\n"
                                 "\n"
                                 "[Install]\n"
                                 "WantedBy=sockets.target\n");
}

TEST(SystemdUnits, ServiceUnitStartsTheBundledProgramWithoutArguments) {
    auto units = systemdUnitsFor(exampleAgent(), "/opt/Example.app/");
    ASSERT_TRUE(units);
    EXPECT_EQ(units->serviceUnitName, "org.example.Agent.service");
    EXPECT_EQ(units->serviceUnit, "[Unit]\n"
                                  "Description=org.example.Agent\n"
                                  "\n"
                                  "[Service]\n"
                                  "ExecStart=\"/opt/Example.app/Contents/MacOS/Agent\"\n");
}

TEST(SystemdUnits, ProgramPathIsTakenLiterally) {
    auto units = systemdUnitsFor(exampleAgent(), "/home/a b/100%/$HOME/X.app");
    ASSERT_TRUE(units);
    EXPECT_NE(
        units->serviceUnit.find("ExecStart=\"/home/a b/100%%/$HOME/X.app/Contents/MacOS/Agent\"\n"),
        std::string::npos)
        << units->serviceUnit;
}

TEST(SystemdUnits, BundlePathMustBeOneSystemdCanStartFrom) {
    for (const char* bundle : {"relative/X.app", "/tmp/line\nbreak/X.app", "/tmp/q\"t/X.app",
                               "/tmp/q't/X.app", "/tmp/back\\slash/X.app"})
        EXPECT_EQ(systemdUnitsFor(exampleAgent(), bundle), std::nullopt) << bundle;
}

TEST(SystemdUnits, BuiltBundleYieldsUnitsThatAreWrittenWhole) {
    auto units = systemdUnitsForBundle(APP_BUNDLE, "com.quillmarsh.CorvanePlugin.Agent.plist");
    ASSERT_TRUE(units);
    EXPECT_EQ(units->serviceUnitName, "com.quillmarsh.CorvanePlugin.Agent.service");
    EXPECT_NE(units->socketUnit.find("ListenStream=%t/" +
                                     std::string(contract::sensorMachServiceName) + "\n"),
              std::string::npos);
    EXPECT_NE(units->serviceUnit.find("/Contents/MacOS/CorvanePluginAgent\"\n"), std::string::npos);

    fs::path directory = fs::temp_directory_path() / ("units-" + std::to_string(getpid()));
    fs::create_directories(directory);
    EXPECT_TRUE(writeSystemdUnits(*units, directory));
    EXPECT_EQ(readFile(directory / units->socketUnitName), units->socketUnit);
    EXPECT_EQ(readFile(directory / units->serviceUnitName), units->serviceUnit);
    EXPECT_FALSE(writeSystemdUnits(*units, directory / "missing"));
    fs::remove_all(directory);

    EXPECT_EQ(systemdUnitsForBundle(APP_BUNDLE, "absent.plist"), std::nullopt);
}
