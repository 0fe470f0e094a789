// A stand-in for the agent: it serves through the real listener, with the identity the
// build gives it, but answers every call as its arguments say.
//   FakeAgent snapshot      the fake snapshot at once
//   FakeAgent slow <ms>     the same after <ms> milliseconds
//   FakeAgent dies          ends the process at the first call, without a reply
//   FakeAgent padded <n>    the fake snapshot padded with spaces to <n> bytes
//   FakeAgent garbage       bytes that are no JSON
//   FakeAgent version <v>   the fake snapshot under protocol version <v>
#include "Platform/EventLoop.h"
#include "Platform/SerialQueue.h"
#include "Platform/ServiceListener.h"
#include "Shared/ServiceContract.h"
#include "Shared/SnapshotJSON.h"
#include "support/FakeAgentSnapshot.h"

#include <chrono>
#include <cstdlib>
#include <string>

namespace {

class ScriptedAgent final : public ServiceListenerDelegate, public SensorServiceProtocol {
  public:
    ScriptedAgent(SerialQueue& queue, std::string behaviour, std::string value)
        : queue(queue), behaviour(std::move(behaviour)), value(std::move(value)) {}

    bool shouldAcceptNewConnection(IncomingConnection& connection) override {
        connection.setExportedObject(*this);
        connection.resume();
        return true;
    }

    void fetchSnapshotWithReply(std::function<void(std::string data)> reply) override {
        if (behaviour == "dies")
            std::_Exit(0);
        if (behaviour == "slow") {
            auto delay = std::chrono::milliseconds(std::atoll(value.c_str()));
            queue.asyncAfter(delay, std::make_shared<WorkItem>([reply] { reply(snapshot()); }));
            return;
        }
        reply(answer());
    }

  private:
    static std::string snapshot() { return *encodeCompact(fakeAgentSnapshot()); }

    std::string answer() const {
        if (behaviour == "padded") {
            std::string padded = snapshot();
            padded.resize(std::size_t(std::atoll(value.c_str())), ' ');
            return padded;
        }
        if (behaviour == "garbage")
            return "\x01\xFF{not json at all";
        if (behaviour == "version") {
            SensorSnapshot other = fakeAgentSnapshot();
            other.protocolVersion = std::atoll(value.c_str());
            return *encodeCompact(other);
        }
        return snapshot();
    }

    SerialQueue& queue;
    const std::string behaviour;
    const std::string value;
};

} // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return 2;
    EventLoop loop;
    SerialQueue queue("fake agent", monotonicNow);
    ScriptedAgent agent(queue, argv[1], argc > 2 ? argv[2] : "");
    ServiceListener listener(loop, std::string(contract::sensorMachServiceName));
    listener.setConnectionCodeSigningRequirement(contract::agentRequirement());
    listener.setDelegate(agent);
    listener.resume();
    loop.run(queue);
    return 0;
}
