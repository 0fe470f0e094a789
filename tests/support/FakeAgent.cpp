// A stand-in for the agent: it serves through the real listener, with the identity the
// build gives it, but answers every call as its arguments say, with a snapshot of plugin
// version "0.0.1", build 7:
//   snapshot | slow <ms> | dies (without a reply) | padded <bytes> | garbage | version <v>
#include "Platform/EventLoop.h"
#include "Platform/SerialQueue.h"
#include "Platform/ServiceListener.h"
#include "Shared/ServiceContract.h"
#include "Shared/SnapshotJSON.h"

#include <chrono>
#include <cstdlib>
#include <string>

namespace {

struct ScriptedAgent final : ServiceListenerDelegate, SensorServiceProtocol {
    SerialQueue& queue;
    const std::string behaviour;
    const long long value;

    ScriptedAgent(SerialQueue& queue, std::string behaviour, long long value)
        : queue(queue), behaviour(std::move(behaviour)), value(value) {}

    bool shouldAcceptNewConnection(IncomingConnection& connection) override {
        connection.setExportedObject(*this);
        connection.resume();
        return true;
    }

    void fetchSnapshotWithReply(std::function<void(std::string data)> reply) override {
        SensorSnapshot snapshot;
        snapshot.protocolVersion = behaviour == "version" ? value : 1;
        snapshot.pluginVersion = "0.0.1";
        snapshot.pluginBuild = 7;
        std::string data =
            behaviour == "garbage" ? "\x01\xFF{not json at all" : *encodeCompact(snapshot);
        if (behaviour == "padded")
            data.resize(std::size_t(value), ' ');
        if (behaviour == "dies")
            std::_Exit(0);
        queue.asyncAfter(std::chrono::milliseconds(behaviour == "slow" ? value : 0),
                         std::make_shared<WorkItem>([reply, data] { reply(data); }));
    }
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    EventLoop loop;
    SerialQueue queue("fake agent", monotonicNow);
    ScriptedAgent agent(queue, argv[1], argc > 2 ? std::atoll(argv[2]) : 0);
    ServiceListener listener(loop, std::string(contract::sensorMachServiceName));
    listener.setConnectionCodeSigningRequirement(contract::agentRequirement());
    listener.setDelegate(agent);
    listener.resume();
    loop.run(queue);
    return 0;
}
