#include "ServiceMode.h"

#include "../Platform/EventLoop.h"
#include "../Platform/ProcessIdentity.h"
#include "../Platform/ServiceListener.h"
#include "../Shared/ServiceContract.h"
#include "SensorXPCService.h"

#include <cstdlib>

int runServiceMode(const SnapshotSources& sources) {
    // The thread's run loop: it carries the listener's sockets and the service's queue.
    static auto* loop = new EventLoop();
    // Kept for the life of the process; the idle exit ends it without unwinding.
    static auto* service =
        // NOLINTNEXTLINE(concurrency-mt-unsafe): the agent has one thread
        new SensorXPCService(sources, monotonicNow, [](int status) { std::exit(status); });
    static auto* listener =
        new ServiceListener(*loop, std::string(contract::sensorMachServiceName));
    // It lives on one thread, and stays small for the whole of its life.
    verifySignaturesInChildProcesses();
    listener->setConnectionCodeSigningRequirement(contract::agentRequirement());
    listener->setDelegate(*service);
    listener->resume();
    loop->run(service->queue());
    return 0;
}
