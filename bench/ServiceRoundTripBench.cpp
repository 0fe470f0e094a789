// Warm request latency against a hand-started agent, beside a bare Unix-socket round
// trip of the same shape on the same machine; the agent's peak resident size is reported
// as a counter. This program carries the plugin app's identity.
#include "Platform/ServiceConnection.h"
#include "Shared/ServiceContract.h"
#include "Shared/ServiceFrames.h"
#include "support/ServiceHarness.h"

#include <benchmark/benchmark.h>

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
    double peakResidentKiB() const {
        std::ifstream status("/proc/" + std::to_string(process.pid()) + "/status");
        for (std::string line; std::getline(status, line);)
            if (line.rfind("VmHWM:", 0) == 0)
                return std::stod(line.substr(6));
        return 0;
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
void warmFetchRaw(benchmark::State& state) {
    Agent& service = agent();
    for (auto _ : state) {
        RawClient client(service.runtime.socketPath());
        client.readFrame();
        client.send(request);
        if (!client.readFrame()) {
            state.SkipWithError("no reply");
            break;
        }
    }
}
BENCHMARK(warmFetchRaw)->UseRealTime();

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
