// Warm request latency against a hand-started agent, beside a bare Unix-socket round
// trip of the same shape on the same machine; the agent's peak resident size is reported
// as a counter. Two more report only counters, each with an agent of its own: its peak
// resident size after 1,000 sequential requests, and how often it wakes while idle.
// This program carries the plugin app's identity.
#include "Platform/ServiceConnection.h"
#include "ProcessCpu.h"
#include "Shared/ServiceContract.h"
#include "Shared/ServiceFrames.h"
#include "support/ServiceHarness.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

const std::string request = *frames::encodeFrame(frames::fetchSnapshotMethod);

// One agent for the whole run, in a runtime directory of its own.
struct Agent {
    RuntimeDirectory runtime;
    BackgroundProcess process = BackgroundProcess::spawn(AGENT_PATH);
    Agent() { waitForListener(runtime.socketPath(), 5s); }
    double peakResidentKiB() const { return statusFigure(process.pid(), "VmHWM:"); }
    // Times any of its threads gave up or lost the processor so far.
    double contextSwitches() const {
        double switches = 0;
        std::error_code error;
        std::filesystem::path tasks = "/proc/" + std::to_string(process.pid()) + "/task";
        for (const auto& task : std::filesystem::directory_iterator(tasks, error))
            switches += statusFigure(task.path(), "voluntary_ctxt_switches:") +
                        statusFigure(task.path(), "nonvoluntary_ctxt_switches:");
        return switches;
    }

    static double statusFigure(const std::filesystem::path& process, const std::string& name) {
        std::ifstream status(process / "status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind(name, 0) == 0)
                return std::stod(line.substr(name.size()));
        return 0;
    }
    static double statusFigure(pid_t pid, const std::string& name) {
        return statusFigure("/proc/" + std::to_string(pid), name);
    }
};

Agent& agent() {
    static Agent running;
    return running;
}

// Through the client connection, as the app fetches: connect, verify, call, reply.
void warmFetchThroughTheConnection(benchmark::State& state) {
    Agent& service = agent();
    for (auto _ : state) {
        std::promise<std::size_t> replied;
        auto connection = makeServiceConnection(contract::sensorMachServiceName);
        connection->setCodeSigningRequirement(contract::clientRequirement());
        connection->setInvalidationHandler([&] { replied.set_value(0); });
        connection->resume();
        connection->remoteObjectProxy([](const ConnectionError&) {})
            ->fetchSnapshotWithReply(
                [&](ReplyBytes data) { replied.set_value(data ? data->size() : 0); });
        std::size_t size = replied.get_future().get();
        connection->setInvalidationHandler(nullptr);
        connection->invalidate();
        if (size == 0) {
            state.SkipWithError("no reply");
            break;
        }
    }
    state.counters["agentPeakRSS_KiB"] = service.peakResidentKiB();
}
BENCHMARK(warmFetchThroughTheConnection)->UseRealTime();

// The same exchange by hand, without the connection's thread or the agent check.
bool fetchRaw(Agent& service) {
    RawClient client(service.runtime.socketPath());
    client.readFrame();
    client.send(request);
    return client.readFrame().has_value();
}

void warmFetchRaw(benchmark::State& state) {
    Agent& service = agent();
    const double start = processorMicroseconds({service.process.pid()});
    for (auto _ : state)
        if (!fetchRaw(service)) {
            state.SkipWithError("no reply");
            break;
        }
    state.counters["agentCPU_us"] = benchmark::Counter(
        processorMicroseconds({service.process.pid()}) - start, benchmark::Counter::kAvgIterations);
}
BENCHMARK(warmFetchRaw)->UseRealTime();

void agentPeakMemoryAt1000Requests(benchmark::State& state) {
    Agent service;
    for (auto _ : state)
        if (!fetchRaw(service)) {
            state.SkipWithError("no reply");
            break;
        }
    state.counters["agentPeakRSS_KiB"] = service.peakResidentKiB();
    // Its own memory, without the pages of its program file it shares with the page cache.
    state.counters["agentAnonRSS_KiB"] = Agent::statusFigure(service.process.pid(), "RssAnon:");
}
BENCHMARK(agentPeakMemoryAt1000Requests)->UseRealTime()->Iterations(1000);

// After one request the agent waits for the next or its idle exit, 30 s on; nothing
// should wake it before.
void agentIdleWakeUps(benchmark::State& state) {
    constexpr auto idle = 5s;
    Agent service;
    if (!fetchRaw(service)) {
        state.SkipWithError("no reply");
        return;
    }
    // Counted once it has finished with that connection: its count stands still.
    double before = service.contextSwitches();
    for (int settled = 0; settled < 3; ++settled) {
        std::this_thread::sleep_for(200ms);
        double now = service.contextSwitches();
        if (now != before)
            settled = -1;
        before = now;
    }
    for (auto _ : state)
        std::this_thread::sleep_for(idle);
    state.counters["wakeUps"] = service.contextSwitches() - before;
    state.counters["idleSeconds"] = double(idle.count());
}
BENCHMARK(agentIdleWakeUps)->UseRealTime()->Iterations(1)->Unit(benchmark::kSecond);

// A peer that answers one request per connection with a reply of a snapshot's size.
void bareUnixSocketRoundTrip(benchmark::State& state) {
    RuntimeDirectory runtime;
    std::string path = runtime.socketPath();
    int listening = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    bind(listening, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listening, 64);
    std::string reply = *frames::encodeFrame(std::string(160, 'x'));
    std::thread peer([&] {
        for (;;) {
            int fd = accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0)
                return;
            char buffer[64];
            if (recv(fd, buffer, request.size(), MSG_WAITALL) <= 0) {
                close(fd);
                return; // the end of the run
            }
            send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
            close(fd);
        }
    });
    for (auto _ : state) {
        RawClient client(path);
        client.send(request);
        if (!client.readFrame()) {
            state.SkipWithError("no reply");
            break;
        }
    }
    {
        RawClient last(path); // wakes the peer, which then sees no request
    }
    peer.join();
    close(listening);
}
BENCHMARK(bareUnixSocketRoundTrip)->UseRealTime();

} // namespace
