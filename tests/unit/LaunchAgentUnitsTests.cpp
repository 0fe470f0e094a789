#include "Platform/linux/registration/LaunchAgentUnits.h"

#include <gtest/gtest.h>

namespace {

// A launch agent's list with the given values; a null one is left out.
std::string plist(const char* label, const char* program, const char* services) {
    std::string body;
    if (label)
        body += "<key>Label</key>" + std::string(label);
    if (program)
        body += "<key>BundleProgram</key>" + std::string(program);
    if (services)
        body += "<key>MachServices</key><dict>" + std::string(services) + "</dict>";
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + body +
           "<key>RunAtLoad</key><false/></dict></plist>";
}

const char* const label = "<string>org.example.Agent</string>";
const char* const program = "<string>Contents/MacOS/Agent</string>";
const char* const service = "<key>org.example.service</key><true/>";
const LaunchAgentDefinition example{"org.example.Agent", "org.example.service",
                                    "Contents/MacOS/Agent"};

} // namespace

TEST(LaunchAgentPlist, ReadsLabelServiceAndProgramAndRefusesWhatCannotBecomeUnits) {
    EXPECT_EQ(asOptional(parseLaunchAgent(plist(label, program, service))), example);
    const std::string refused[] = {
        "not a plist",
        plist(nullptr, program, service),
        plist(label, nullptr, service),
        plist(label, program, ""),
        plist(label, program, "<key>org.example.service</key><false/>"),
        plist("<string>a%b</string>", program, service),
        plist(label, "<string>/usr/bin/agent</string>", service),
        plist(label, "<string>Contents/../../agent</string>", service),
        plist(label, "<string>Contents/Mac\nOS/Agent</string>", service),
        plist(label, "<string>Contents/\"Agent\"</string>", service),
    };
    for (const std::string& text : refused)
        EXPECT_FALSE(parseLaunchAgent(text)) << text;
}

TEST(SystemdUnits, SocketListensPrivatelyWhereClientsLookAndStartsTheProgramBare) {
    auto units =
        systemdUnitsFor(*parseLaunchAgent(plist(label, program, service)), "/opt/Example.app/");
    ASSERT_TRUE(units);
    EXPECT_EQ(units->socketUnitName, "org.example.Agent.socket");
    EXPECT_EQ(units->socketUnit, "[Unit]\nDescription=org.example.Agent (socket)\n\n"
                                 "[Socket]\nListenStream=%t/org.example.service\nSocketMode=0600\n"
                                 "PassCredentials=yes\nRemoveOnStop=yes\n\n"
                                 "[Install]\nWantedBy=sockets.target\n");
    EXPECT_EQ(units->serviceUnitName, "org.example.Agent.service");
    // Never down for good after a crash loop: no start limit, a pause after each failure.
    // The sandbox that follows is proven where the agent runs under it.
    EXPECT_TRUE(units->serviceUnit.starts_with(
        "[Unit]\nDescription=org.example.Agent\nStartLimitIntervalSec=0\n\n"
        "[Service]\nExecStart=\"/opt/Example.app/Contents/MacOS/Agent\"\n"
        "ExecStopPost=/bin/sh -c '[ \"$$SERVICE_RESULT\" = success ] || exec sleep 1'\n"))
        << units->serviceUnit;

    // The path is taken literally: no specifiers, no variables.
    units = systemdUnitsFor(example, "/home/a b/100%/$HOME/X.app");
    ASSERT_TRUE(units);
    EXPECT_NE(units->serviceUnit.find("ExecStart=\"/home/a b/100%%/$HOME/X.app/Contents/"),
              std::string::npos)
        << units->serviceUnit;
    for (const char* bundle :
         {"relative/X.app", "/tmp/line\nbreak/X.app", "/tmp/q\"t/X.app", "/tmp/back\\slash/X.app"})
        EXPECT_FALSE(systemdUnitsFor(example, bundle)) << bundle;
}
