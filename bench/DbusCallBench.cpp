// Peers of a warm fetch in the same program: a D-Bus method call to a trivial service
// through a private bus daemon, the service answering with as many bytes as a snapshot's
// reply. Two shapes: a call on a bus connection that stays open (how D-Bus clients
// work), and a call on a fresh connection (connect, authenticate, Hello, call), as each
// fetch connects afresh.
#include "ProcessCpu.h"
#include "support/ServiceHarness.h"

#include <benchmark/benchmark.h>
#include <systemd/sd-bus.h>

#include <memory>
#include <thread>

using namespace std::chrono_literals;

namespace {

constexpr const char* serviceName = "com.quillmarsh.TrivialService";
constexpr const char* objectPath = "/com/quillmarsh/TrivialService";
constexpr std::size_t replySize = 160; // about a compact snapshot

using Bus = std::unique_ptr<sd_bus, decltype(&sd_bus_flush_close_unref)>;

Bus connect(const std::string& address) {
    sd_bus* bus = nullptr;
    if (sd_bus_new(&bus) < 0)
        return {nullptr, sd_bus_flush_close_unref};
    Bus owned(bus, sd_bus_flush_close_unref);
    if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 ||
        sd_bus_start(bus) < 0)
        owned.reset();
    return owned;
}

int fetch(sd_bus_message* call, void*, sd_bus_error*) {
    static const std::string bytes(replySize, 'x');
    sd_bus_message* reply = nullptr;
    int result = sd_bus_message_new_method_return(call, &reply);
    if (result >= 0)
        result = sd_bus_message_append_array(reply, 'y', bytes.data(), bytes.size());
    if (result >= 0)
        result = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return result;
}

const sd_bus_vtable trivialVtable[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_METHOD("Fetch", "", "ay", fetch, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END,
};

// A private bus daemon and the trivial service on it, for the whole run.
struct PrivateBus {
    RuntimeDirectory runtime;
    std::string path = (runtime.path() / "bus").string();
    std::string address = "unix:path=" + path;
    BackgroundProcess daemon = BackgroundProcess::spawn(
        "/usr/bin/dbus-daemon", {"--session", "--nofork", "--nopidfile", "--address=" + address});
    std::optional<BackgroundProcess> service;

    PrivateBus() {
        if (!waitForListener(path, 5s))
            return;
        // The forked service only uses sd-bus, which keeps no threads of its own.
        service.emplace(BackgroundProcess::fork([address = address] {
            Bus bus = connect(address);
            if (!bus ||
                sd_bus_add_object_vtable(bus.get(), nullptr, objectPath, serviceName, trivialVtable,
                                         nullptr) < 0 ||
                sd_bus_request_name(bus.get(), serviceName, 0) < 0)
                return 1;
            for (;;) {
                int processed = sd_bus_process(bus.get(), nullptr);
                if (processed < 0)
                    return 1;
                if (processed == 0 && sd_bus_wait(bus.get(), UINT64_MAX) < 0)
                    return 1;
            }
        }));
    }

    // This process, the bus daemon and the service.
    double processorMicroseconds() const {
        return ::processorMicroseconds({getpid(), daemon.pid(), service->pid()});
    }
    void reportProcessorTime(benchmark::State& state, double start) const {
        ::reportProcessorTime(state, start, {getpid(), daemon.pid(), service->pid()});
    }
};

// One call; true when the reply carried the service's bytes.
bool call(sd_bus* bus) {
    sd_bus_message* reply = nullptr;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    bool ok = sd_bus_call_method(bus, serviceName, objectPath, serviceName, "Fetch", &error, &reply,
                                 "") >= 0;
    const void* data = nullptr;
    std::size_t size = 0;
    ok = ok && sd_bus_message_read_array(reply, 'y', &data, &size) >= 0 && size == replySize;
    sd_bus_message_unref(reply);
    sd_bus_error_free(&error);
    return ok;
}

// Waits until the service owns its name, so the first timed call does not race it.
bool serviceReady(const std::string& address) {
    for (int attempt = 0; attempt < 500; ++attempt) {
        Bus bus = connect(address);
        if (bus && call(bus.get()))
            return true;
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

void dbusCall(benchmark::State& state) {
    PrivateBus bus;
    Bus client = connect(bus.address);
    if (!client || !serviceReady(bus.address)) {
        state.SkipWithError("the private bus or its service did not start");
        return;
    }
    const double start = bus.processorMicroseconds();
    for (auto _ : state)
        if (!call(client.get())) {
            state.SkipWithError("a call failed");
            break;
        }
    bus.reportProcessorTime(state, start);
}
BENCHMARK(dbusCall)->UseRealTime()->Unit(benchmark::kMicrosecond);

void dbusConnectAndCall(benchmark::State& state) {
    PrivateBus bus;
    if (!serviceReady(bus.address)) {
        state.SkipWithError("the private bus or its service did not start");
        return;
    }
    const double start = bus.processorMicroseconds();
    for (auto _ : state) {
        Bus client = connect(bus.address);
        if (!client || !call(client.get())) {
            state.SkipWithError("a call failed");
            break;
        }
    }
    bus.reportProcessorTime(state, start);
}
BENCHMARK(dbusConnectAndCall)->UseRealTime()->Unit(benchmark::kMicrosecond);

} // namespace
