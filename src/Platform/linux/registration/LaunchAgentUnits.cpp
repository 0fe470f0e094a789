#include "LaunchAgentUnits.h"

#include "../system/SmallFile.h"

#include <plist/plist.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <system_error>

namespace {

using PlistPtr = std::unique_ptr<void, decltype(&plist_free)>;

Result<std::string> stringValue(plist_t node) {
    if (!node || plist_get_node_type(node) != PLIST_STRING)
        return Failure{};
    char* text = nullptr;
    plist_get_string_val(node, &text);
    if (!text)
        return Failure{};
    std::string value(text);
    free(text);
    return value;
}

// Usable as a unit name and as a file name after "%t/": no specifiers, separators,
// spaces or escapes.
[[nodiscard]] bool isPlainName(std::string_view name) {
    return !name.empty() && name.size() <= 200 && name.front() != '.' &&
           std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '-' || c == '_';
           });
}

[[nodiscard]] bool hasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

[[nodiscard]] bool staysInside(const std::filesystem::path& relative) {
    if (relative.empty() || relative.is_absolute())
        return false;
    return std::none_of(relative.begin(), relative.end(), [](const std::filesystem::path& part) {
        return part == ".." || part == "." || part.empty();
    });
}

Result<std::string> onlyMachService(plist_t services) {
    if (!services || plist_get_node_type(services) != PLIST_DICT ||
        plist_dict_get_size(services) != 1)
        return Failure{};
    plist_dict_iter iterator = nullptr;
    plist_dict_new_iter(services, &iterator);
    char* key = nullptr;
    plist_t value = nullptr;
    plist_dict_next_item(services, iterator, &key, &value);
    free(iterator);
    if (!key)
        return Failure{};
    std::string name(key);
    free(key);
    uint8_t enabled = 0;
    if (plist_get_node_type(value) == PLIST_BOOLEAN)
        plist_get_bool_val(value, &enabled);
    else if (plist_get_node_type(value) == PLIST_DICT)
        enabled = 1;
    if (!enabled)
        return Failure{};
    return name;
}

// systemd refuses an executable path with quotes or backslashes, even quoted.
[[nodiscard]] bool fitsExecStart(std::string_view path) {
    return !hasControlCharacter(path) && path.find_first_of("\"'\\") == std::string_view::npos;
}

// The program path as a unit's command line takes it literally: quoted for spaces, with
// "%" doubled so it is not read as a specifier. "$" is not expanded in the path itself.
std::string execStartPath(std::string_view path) {
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    return quoted + "\"";
}

Result<void> writeWhole(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::path partial = path;
    partial += ".partial";
    {
        std::ofstream file(partial, std::ios::binary | std::ios::trunc);
        file << text;
        if (!file.flush())
            return Failure::ofErrno(); // the stream's open or write left it
    }
    std::error_code error;
    std::filesystem::rename(partial, path, error);
    if (error)
        return Failure{error.value()};
    return {};
}

// What fences the agent in: system calls, address families and privileges, all of which
// a user's own manager can enforce. The agent writes nothing and speaks only on the socket
// it is handed. Left out on purpose:
// - Everything that needs a mount, network or user namespace (ProtectSystem, PrivateTmp,
//   PrivateNetwork, ...): a user's manager can make one only inside a user namespace of
//   its own, and from there the kernel refuses to show the agent its peers' programs
//   (/proc/<pid>/exe), on which admission rests.
// - An empty capability bounding set: the agent could then not look at the program of a
//   peer that holds capabilities, and a user's manager may not shrink the set at all.
// - Device policies: NVIDIA's library needs the driver's nodes.
// - IPAddressDeny: no IP socket can be made anyway.
// The system calls are a deny list: the manager compiles every filter at each start, and
// an allow list made a cold fetch several milliseconds slower.
constexpr std::string_view agentSandbox = "NoNewPrivileges=yes\n"
                                          "RestrictAddressFamilies=AF_UNIX\n"
                                          "RestrictNamespaces=yes\n"
                                          "RestrictRealtime=yes\n"
                                          "RestrictSUIDSGID=yes\n"
                                          "LockPersonality=yes\n"
                                          "MemoryDenyWriteExecute=yes\n"
                                          "SystemCallArchitectures=native\n"
                                          "SystemCallFilter=~@clock @cpu-emulation @debug @module "
                                          "@mount @obsolete @privileged @raw-io @reboot "
                                          "@resources @swap\n"
                                          "SystemCallErrorNumber=EPERM\n"
                                          "KeyringMode=private\n"
                                          "RemoveIPC=yes\n"
                                          "UMask=0077\n"
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
                                          // What a sanitizer build does at start and exit:
                                          // re-executes itself with another personality,
                                          // and stops its threads (ptrace) to find leaks.
                                          "LockPersonality=no\n"
                                          "SystemCallFilter=@debug personality\n"
#endif
    ;

} // namespace

Result<LaunchAgentDefinition> parseLaunchAgent(std::string_view plistBytes) {
    plist_t rawRoot = nullptr;
    plist_from_memory(plistBytes.data(), uint32_t(plistBytes.size()), &rawRoot);
    PlistPtr root(rawRoot, &plist_free);
    if (!root || plist_get_node_type(root.get()) != PLIST_DICT)
        return Failure{};
    auto label = stringValue(plist_dict_get_item(root.get(), "Label"));
    auto program = stringValue(plist_dict_get_item(root.get(), "BundleProgram"));
    auto service = onlyMachService(plist_dict_get_item(root.get(), "MachServices"));
    if (!label || !program || !service || !isPlainName(*label) || !isPlainName(*service) ||
        !fitsExecStart(*program) || !staysInside(*program))
        return Failure{};
    return LaunchAgentDefinition{*label, *service, *program};
}

Result<SystemdUnits> systemdUnitsFor(const LaunchAgentDefinition& agent,
                                     const std::filesystem::path& bundle) {
    std::filesystem::path program = bundle.lexically_normal() / agent.bundleProgram;
    if (!bundle.is_absolute() || !fitsExecStart(program.native()))
        return Failure{};
    SystemdUnits units;
    units.socketUnitName = agent.label + ".socket";
    units.serviceUnitName = agent.label + ".service";
    units.socketUnit = "[Unit]\n"
                       "Description=" +
                       agent.label +
                       " (socket)\n"
                       "\n"
                       "[Socket]\n"
                       "ListenStream=%t/" +
                       agent.machServiceName +
                       "\n"
                       "SocketMode=0600\n"
                       // So that calls a client sends before the agent runs name their
                       // writer too: the kernel records the sender only for a receiver
                       // that asked before the bytes were sent.
                       "PassCredentials=yes\n"
                       // Uninstalling stops the socket: its file goes with it.
                       "RemoveOnStop=yes\n"
                       "\n"
                       "[Install]\n"
                       "WantedBy=sockets.target\n";
    // Every start answers a client's connection, so without clients nothing can loop; and
    // a service that reaches a start limit fails its socket with it, refusing every
    // later client until someone resets it. So no start limit. Instead a start that
    // failed is followed by a pause before the socket may start the agent again: a crash
    // loop then starts it once a second, far below the socket's own trigger limit (20 in
    // 2 s, which would also fail it), while a client kept waiting meanwhile is still
    // served well within its 5-second time-out. A clean idle exit has no pause.
    units.serviceUnit = "[Unit]\n"
                        "Description=" +
                        agent.label +
                        "\n"
                        "StartLimitIntervalSec=0\n"
                        "\n"
                        "[Service]\n"
                        "ExecStart=" +
                        execStartPath(program.native()) +
                        "\n"
                        "ExecStopPost=/bin/sh -c '[ \"$$SERVICE_RESULT\" = success ] || exec "
                        "sleep 1'\n" +
                        std::string(agentSandbox);
    return units;
}

Result<SystemdUnits> systemdUnitsForBundle(const std::filesystem::path& bundle,
                                           std::string_view plistName) {
    // Far beyond any launch agent's list; a larger file is not one.
    constexpr std::size_t sizeLimit = 1 << 20;
    auto bytes =
        readFileStart(bundle / "Contents" / "Library" / "LaunchAgents" / plistName, sizeLimit + 1);
    if (!bytes || bytes->size() > sizeLimit)
        return Failure{};
    auto agent = parseLaunchAgent(*bytes);
    if (!agent)
        return Failure{};
    return systemdUnitsFor(*agent, bundle);
}

Result<void> writeSystemdUnits(const SystemdUnits& units,
                               const std::filesystem::path& unitDirectory) {
    if (auto written = writeWhole(unitDirectory / units.socketUnitName, units.socketUnit); !written)
        return written;
    return writeWhole(unitDirectory / units.serviceUnitName, units.serviceUnit);
}
