#include "SystemdManagerBus.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <map>

namespace {

constexpr const char* destination = "org.freedesktop.systemd1";
constexpr const char* objectPath = "/org/freedesktop/systemd1";
constexpr const char* managerInterface = "org.freedesktop.systemd1.Manager";

using Message = std::unique_ptr<sd_bus_message, decltype(&sd_bus_message_unref)>;
using Slot = std::unique_ptr<sd_bus_slot, decltype(&sd_bus_slot_unref)>;
using Clock = SystemdManagerBus::Clock;

// A path as a D-Bus address value: bytes other than the plain ones as %xx.
std::string unixAddress(const std::string& path) {
    static const char hex[] = "0123456789abcdef";
    std::string address = "unix:path=";
    for (char byte : path) {
        auto c = static_cast<unsigned char>(byte);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '/' || c == '.')
            address += char(c);
        else
            address += {'%', hex[c >> 4], hex[c & 15]};
    }
    return address;
}

// sd-bus's way: a negative error number.
Failure busFailure(int returned) {
    return Failure{-returned};
}

// Dispatches what arrives until `done` says so, the bus fails or the deadline passes.
template <typename Done> Result<void> runUntil(sd_bus* bus, Clock::time_point deadline, Done done) {
    while (!done()) {
        int processed = sd_bus_process(bus, nullptr);
        if (processed < 0)
            return busFailure(processed);
        // After every message too, so that a stream of signals cannot outlast the deadline.
        auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return Failure{ETIMEDOUT};
        if (processed > 0)
            continue;
        int waited = sd_bus_wait(bus, std::uint64_t(left.count()));
        if (waited < 0 && waited != -EINTR)
            return busFailure(waited);
    }
    return {};
}

// Calls one of the manager's methods and waits for its answer; an error reply is a failure
// with its error number. Asynchronous underneath, so the deadline covers connecting and
// authenticating too.
template <typename... Arguments>
Result<Message> call(sd_bus* bus, Clock::time_point deadline, const char* method,
                     const char* types = "", Arguments... arguments) {
    sd_bus_message* rawRequest = nullptr;
    if (int made = sd_bus_message_new_method_call(bus, &rawRequest, destination, objectPath,
                                                  managerInterface, method);
        made < 0)
        return busFailure(made);
    Message request(rawRequest, &sd_bus_message_unref);
    if constexpr (sizeof...(arguments) > 0)
        if (int appended = sd_bus_message_append(rawRequest, types, arguments...); appended < 0)
            return busFailure(appended);
    struct Pending {
        Message reply{nullptr, &sd_bus_message_unref};
        bool answered = false;
        int error = 0;
    } pending;
    auto onReply = [](sd_bus_message* message, void* userdata, sd_bus_error*) {
        auto& answer = *static_cast<Pending*>(userdata);
        answer.answered = true;
        if (sd_bus_message_is_method_error(message, nullptr))
            answer.error = sd_bus_message_get_errno(message);
        else
            answer.reply.reset(sd_bus_message_ref(message));
        return 0;
    };
    auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now());
    if (left.count() <= 0)
        return Failure{ETIMEDOUT};
    sd_bus_slot* rawSlot = nullptr;
    if (int sent = sd_bus_call_async(bus, &rawSlot, rawRequest, onReply, &pending,
                                     std::uint64_t(left.count()));
        sent < 0)
        return busFailure(sent);
    Slot slot(rawSlot, &sd_bus_slot_unref);
    if (auto answered = runUntil(bus, deadline, [&] { return pending.answered; }); !answered)
        return answered.failure();
    if (!pending.reply)
        return Failure{pending.error};
    return std::move(pending.reply);
}

// Only whether the call succeeded.
Result<void> succeeded(const Result<Message>& reply) {
    return reply ? Result<void>() : reply.failure();
}

} // namespace

SystemdManagerAddress systemdManagerAddress() {
    SystemdManagerAddress address;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime == '/')
        address.privateSocket = unixAddress(std::string(runtime) + "/systemd/private");
    if (const char* bus = std::getenv("DBUS_SESSION_BUS_ADDRESS"); bus && *bus)
        address.userBus = bus;
    else if (runtime && *runtime == '/')
        address.userBus = unixAddress(std::string(runtime) + "/bus");
    return address;
}

void SystemdManagerBus::Closer::operator()(sd_bus* bus) const {
    sd_bus_close_unref(bus);
}

Result<SystemdManagerBus> SystemdManagerBus::connect(const SystemdManagerAddress& address,
                                                     Clock::time_point deadline) {
    Failure last{ENOENT}; // neither address given
    // Where no bus daemon runs, the manager's own socket, peer to peer.
    for (auto [where, isBusClient] :
         {std::pair{&address.userBus, 1}, {&address.privateSocket, 0}}) {
        sd_bus* raw = nullptr;
        if (where->empty())
            continue;
        if (int made = sd_bus_new(&raw); made < 0) {
            last = busFailure(made);
            continue;
        }
        SystemdManagerBus bus(raw, deadline);
        int started = sd_bus_set_address(raw, where->c_str());
        if (started >= 0)
            started = sd_bus_set_bus_client(raw, isBusClient);
        if (started >= 0)
            started = sd_bus_start(raw);
        if (started >= 0)
            return bus;
        last = busFailure(started);
    }
    return last;
}

Result<std::string> SystemdManagerBus::unitFileState(const std::string& unit) {
    auto reply = call(bus_.get(), deadline_, "GetUnitFileState", "s", unit.c_str());
    if (!reply)
        return reply.failure();
    const char* state = nullptr;
    if (int read = sd_bus_message_read(reply->get(), "s", &state); read < 0)
        return busFailure(read);
    return std::string(state);
}

Result<void> SystemdManagerBus::reload() {
    return succeeded(call(bus_.get(), deadline_, "Reload"));
}

Result<void> SystemdManagerBus::enableUnitFile(const std::string& unit) {
    // Persistent, and replacing links that name another file.
    return succeeded(call(bus_.get(), deadline_, "EnableUnitFiles", "asbb", 1, unit.c_str(), 0, 1));
}

Result<void> SystemdManagerBus::disableUnitFile(const std::string& unit) {
    return succeeded(call(bus_.get(), deadline_, "DisableUnitFiles", "asb", 1, unit.c_str(), 0));
}

Result<void> SystemdManagerBus::startUnit(const std::string& unit) {
    return runJob("StartUnit", unit);
}

Result<void> SystemdManagerBus::stopUnit(const std::string& unit) {
    return runJob("StopUnit", unit);
}

Result<void> SystemdManagerBus::runJob(const char* method, const std::string& unit) {
    sd_bus* bus = bus_.get();
    bool onBus = sd_bus_is_bus_client(bus) > 0;
    // Listening before asking, so an ending that comes with the answer is not missed.
    std::map<std::string, std::string> ended; // job -> result
    auto onJobRemoved = [](sd_bus_message* message, void* userdata, sd_bus_error*) {
        std::uint32_t id = 0;
        const char *job = nullptr, *unitName = nullptr, *result = nullptr;
        if (sd_bus_message_read(message, "uoss", &id, &job, &unitName, &result) >= 0)
            static_cast<std::map<std::string, std::string>*>(userdata)->emplace(job, result);
        return 0;
    };
    sd_bus_slot* rawSlot = nullptr;
    if (int matched = sd_bus_match_signal_async(bus, &rawSlot, onBus ? destination : nullptr,
                                                objectPath, managerInterface, "JobRemoved",
                                                onJobRemoved, nullptr, &ended);
        matched < 0)
        return busFailure(matched);
    Slot match(rawSlot, &sd_bus_slot_unref);
    // On the bus the manager signals only to subscribers; on its own socket, to everyone.
    if (onBus && !subscribed_) {
        if (auto subscribed = call(bus, deadline_, "Subscribe"); !subscribed)
            return subscribed.failure();
        subscribed_ = true;
    }
    auto reply = call(bus, deadline_, method, "ss", unit.c_str(), "replace");
    if (!reply)
        return reply.failure();
    const char* job = nullptr;
    if (int read = sd_bus_message_read(reply->get(), "o", &job); read < 0)
        return busFailure(read);
    std::string path = job;
    if (auto ran = runUntil(bus, deadline_, [&] { return ended.count(path) > 0; }); !ran)
        return ran;
    return ended[path] == "done" ? Result<void>() : Failure{}; // the job failed or was cancelled
}
