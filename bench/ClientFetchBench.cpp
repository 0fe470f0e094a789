// One fetch end to end, against a bare round trip over the same kind of socket:
//   bareRoundTrip  connect, send a request frame, read a reply frame of a snapshot's
//                  size, close; the peer is a forked process that does nothing else
//   warmFetch      SensorServiceClient::fetchSnapshot against a running agent: connect,
//                  check each other's identity, request, collect, reply, decode, validate
//   coldFetch      the same, the agent started on the first connection to a socket held
//                  for it, as the service manager's socket activation does
//   coldFetchThroughSystemd  the same under a private systemd user manager running the
//                  units made from the bundle; the agent is stopped before each fetch
//   coldOneByteThroughSystemd  the same manager socket-activating a trivial service
//                  that answers one byte: the mechanism's own floor
// DbusCallBench.cpp adds D-Bus method calls to this program.
// The program carries the plugin app's identity, so the agent admits it.
#include "App/SensorServiceClient.h"
#include "Platform/linux/registration/LaunchAgentUnits.h"
#include "Platform/linux/registration/SystemdAgentService.h"
#include "ProcessCpu.h"
#include "Shared/ServiceFrames.h"
#include "Shared/SnapshotJSON.h"
#include "support/AgentServiceCalls.h"
#include "support/PrivateUserManager.h"
#include "support/ServiceHarness.h"

#include <benchmark/benchmark.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <future>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace std::chrono_literals;

namespace {

sockaddr_un addressOf(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    return address;
}

int listenAt(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address = addressOf(path);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 16) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool readExactly(int fd, char* buffer, std::size_t size) {
    while (size > 0) {
        ssize_t got = read(fd, buffer, size);
        if (got <= 0)
            return false;
        buffer += got;
        size -= std::size_t(got);
    }
    return true;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= std::size_t(sent);
    }
    return true;
}

std::string typicalReply() {
    SensorSnapshot snapshot;
    snapshot.timestamp = 818000000.123456;
    snapshot.processorName = "Intel(R) Core(TM) i9-9980HK CPU @ 2.40GHz";
    snapshot.gpu = GPUReading{43.5, std::nullopt, std::nullopt};
    snapshot.cpuTemperatureCelsius = 61.833333333333336;
    snapshot.fanCount = 2;
    snapshot.fans = {FanReading{0, 1850.5, 1200, 6500}, FanReading{1, 1790.25, 1200, 6500}};
    snapshot.pluginVersion = "1.0.0";
    snapshot.pluginBuild = 1;
    return *encodeCompact(snapshot);
}

void bareRoundTrip(benchmark::State& state) {
    RuntimeDirectory runtime;
    const std::string path = (runtime.path() / "bare").string();
    const std::string request = *frames::encodeFrame(frames::fetchSnapshotMethod);
    const std::string reply = *frames::encodeFrame(typicalReply());
    int listening = listenAt(path);
    // The peer only makes system calls, so a fork of this threaded process is safe.
    BackgroundProcess peer = BackgroundProcess::fork([&] {
        std::string got(request.size(), '\0');
        for (;;) {
            int connection = accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
            if (readExactly(connection, got.data(), got.size()))
                writeAll(connection, reply.data(), reply.size());
            close(connection);
        }
        return 0;
    });
    close(listening);

    std::string received(reply.size(), '\0');
    const sockaddr_un address = addressOf(path);
    const double start = processorMicroseconds({getpid(), peer.pid()});
    for (auto _ : state) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                  writeAll(fd, request.data(), request.size()) &&
                  readExactly(fd, received.data(), received.size());
        close(fd);
        if (!ok) {
            state.SkipWithError("the bare peer did not answer");
            break;
        }
    }
    reportProcessorTime(state, start, {getpid(), peer.pid()});
}
BENCHMARK(bareRoundTrip)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Fetches once and tells whether a snapshot came back.
bool fetchOnce() {
    std::promise<bool> done;
    SensorServiceClient::fetchSnapshot(5s, [&done](FetchResult result) {
        done.set_value(std::holds_alternative<SensorSnapshot>(result));
    });
    return done.get_future().get();
}

void warmFetch(benchmark::State& state) {
    RuntimeDirectory runtime;
    BackgroundProcess agent = BackgroundProcess::spawn(AGENT_PATH);
    if (!waitForListener(runtime.socketPath(), 5s) || !fetchOnce()) {
        state.SkipWithError("the agent did not serve");
        return;
    }
    const double start = processorMicroseconds({getpid(), agent.pid()});
    const double agentStart = processorMicroseconds({agent.pid()});
    for (auto _ : state)
        if (!fetchOnce()) {
            state.SkipWithError("a fetch failed");
            break;
        }
    reportProcessorTime(state, start, {getpid(), agent.pid()});
    state.counters["cpuAgent_us"] = benchmark::Counter(
        processorMicroseconds({agent.pid()}) - agentStart, benchmark::Counter::kAvgIterations);
}
BENCHMARK(warmFetch)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Starts the agent with `listening` as its first passed descriptor, the way the service
// manager does. Everything the child needs is prepared before the fork.
pid_t activate(int listening) {
    static char pidVariable[32];
    static char fdsVariable[] = "LISTEN_FDS=1";
    std::vector<char*> environment;
    for (char** variable = environ; *variable; ++variable)
        environment.push_back(*variable);
    environment.push_back(pidVariable);
    environment.push_back(fdsVariable);
    environment.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        // LISTEN_PID=<our pid>, written without the allocator.
        char digits[16];
        int count = 0;
        for (pid_t value = getpid(); value > 0; value /= 10)
            digits[count++] = char('0' + value % 10);
        char* out = pidVariable;
        for (const char* text = "LISTEN_PID="; *text;)
            *out++ = *text++;
        while (count > 0)
            *out++ = digits[--count];
        *out = '\0';
        // dup2 onto itself would leave close-on-exec set.
        if (listening == 3 ? fcntl(3, F_SETFD, 0) != 0 : dup2(listening, 3) != 3)
            _exit(90);
        execle(AGENT_PATH, AGENT_PATH, nullptr, environment.data());
        _exit(91);
    }
    return pid;
}

void coldFetch(benchmark::State& state) {
    RuntimeDirectory runtime;
    const std::string path = runtime.socketPath();
    for (auto _ : state) {
        state.PauseTiming();
        unlink(path.c_str());
        int listening = listenAt(path);
        state.ResumeTiming();

        std::promise<bool> done;
        SensorServiceClient::fetchSnapshot(5s, [&done](FetchResult result) {
            done.set_value(std::holds_alternative<SensorSnapshot>(result));
        });
        pollfd waiting{listening, POLLIN, 0};
        pid_t agent = poll(&waiting, 1, 5000) == 1 ? activate(listening) : -1;
        bool ok = done.get_future().get();

        state.PauseTiming();
        close(listening);
        if (agent > 0) {
            kill(agent, SIGTERM);
            waitpid(agent, nullptr, 0);
        }
        state.ResumeTiming();
        if (!ok) {
            state.SkipWithError("a cold fetch failed");
            break;
        }
    }
}
BENCHMARK(coldFetch)->UseRealTime()->Unit(benchmark::kMicrosecond);

constexpr std::string_view plistName = "com.quillmarsh.CorvanePlugin.Agent.plist";

// Lifts the limits on how often the socket may start the agent, for runs that start it
// far more often than any person would.
bool allowUnlimitedStarts(PrivateUserManager& manager, const SystemdUnits& units) {
    const std::pair<std::string, const char*> dropIns[] = {
        {units.serviceUnitName, "[Unit]\nStartLimitIntervalSec=0\n"},
        {units.socketUnitName, "[Socket]\nTriggerLimitIntervalSec=0\n"}};
    std::error_code error;
    for (const auto& [unit, text] : dropIns) {
        std::filesystem::path folder = manager.unitFolder() / (unit + ".d");
        std::filesystem::create_directories(folder, error);
        std::ofstream(folder / "unlimited-starts.conf") << text;
    }
    return manager.systemctl({"daemon-reload"}).exitStatus == 0;
}

// The trivial service's units: the same manager starts it on a connection; it answers
// one byte.
bool installOneByteService(PrivateUserManager& manager) {
    std::ofstream(manager.unitFolder() / "one-byte.socket")
        << "[Socket]\nListenStream=%t/one-byte.sock\nSocketMode=0600\n"
           "TriggerLimitIntervalSec=0\n";
    std::ofstream(manager.unitFolder() / "one-byte.service")
        << "[Unit]\nStartLimitIntervalSec=0\n[Service]\nExecStart=" ONE_BYTE_SERVICE "\n";
    return manager.systemctl({"daemon-reload"}).exitStatus == 0 &&
           manager.systemctl({"start", "one-byte.socket"}).exitStatus == 0;
}

// One private manager serves both cold benchmarks, so they share its every cost: the
// agent registered as the app registers it, and the trivial service beside it.
struct SharedManager {
    std::unique_ptr<PrivateUserManager> manager;
    SystemdUnits units;
};

SharedManager* sharedManager(std::string& failure) {
    static std::optional<SharedManager> shared = [&failure]() -> std::optional<SharedManager> {
        auto manager = PrivateUserManager::start(failure);
        auto units = systemdUnitsForBundle(APP_BUNDLE, plistName);
        if (!manager)
            return std::nullopt;
        if (!units || !registered(*makeAgentService(APP_BUNDLE, plistName)) ||
            !allowUnlimitedStarts(*manager, *units) || !installOneByteService(*manager)) {
            failure = "cannot install the agent or the trivial service";
            return std::nullopt;
        }
        return SharedManager{std::move(manager), std::move(*units)};
    }();
    return shared ? &*shared : nullptr;
}

// The shared manager, or nothing with `state` skipped and told why.
SharedManager* sharedManagerOrSkip(benchmark::State& state) {
    std::string failure;
    SharedManager* shared = sharedManager(failure);
    if (!shared)
        state.SkipWithError(failure.c_str());
    return shared;
}

void coldFetchThroughSystemd(benchmark::State& state) {
    SharedManager* shared = sharedManagerOrSkip(state);
    if (!shared)
        return;
    for (auto _ : state) {
        state.PauseTiming();
        bool stopped =
            shared->manager->systemctl({"stop", shared->units.serviceUnitName}).exitStatus == 0;
        state.ResumeTiming();
        if (!stopped || !fetchOnce()) {
            state.SkipWithError("a cold fetch failed");
            break;
        }
    }
}
// Each iteration also stops the agent, untimed but slow: a fixed count keeps runs short.
BENCHMARK(coldFetchThroughSystemd)->UseRealTime()->Unit(benchmark::kMicrosecond)->Iterations(40);

// The floor of socket activation: connect, the manager starts the trivial service, one
// byte back.
void coldOneByteThroughSystemd(benchmark::State& state) {
    SharedManager* shared = sharedManagerOrSkip(state);
    if (!shared)
        return;
    const sockaddr_un address =
        addressOf(std::string(getenv("XDG_RUNTIME_DIR")) + "/one-byte.sock");
    for (auto _ : state) {
        state.PauseTiming();
        bool stopped = shared->manager->systemctl({"stop", "one-byte.service"}).exitStatus == 0;
        state.ResumeTiming();
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        char byte = 0;
        bool ok = stopped &&
                  connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                  readExactly(fd, &byte, 1);
        close(fd);
        if (!ok) {
            state.SkipWithError("the trivial service did not answer");
            break;
        }
    }
}
BENCHMARK(coldOneByteThroughSystemd)->UseRealTime()->Unit(benchmark::kMicrosecond)->Iterations(40);

} // namespace
