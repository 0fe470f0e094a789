// Fetches one snapshot from the sensor service and prints its JSON on standard output,
// or the reason it failed on standard error (exit status 1; 2 without a usable proxy).
#include "Platform/ServiceConnection.h"
#include "Shared/ServiceContract.h"
#include "Shared/SnapshotJSON.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <future>

int main() {
    // The first outcome counts: a reply, or the handler that reports why none came.
    std::promise<std::pair<bool, std::string>> outcome;
    std::atomic<bool> decided = false;
    auto finish = [&](bool ok, std::string text) {
        if (!decided.exchange(true))
            outcome.set_value({ok, std::move(text)});
    };
    auto connection = makeServiceConnection(contract::sensorMachServiceName);
    connection->setCodeSigningRequirement(contract::clientRequirement());
    connection->setInterruptionHandler([&] { finish(false, "interrupted"); });
    connection->setInvalidationHandler([&] { finish(false, "invalidated"); });
    connection->resume();
    auto proxy = connection->remoteObjectProxy([&](const ConnectionError& error) {
        finish(false, "transport error " + std::to_string(error.code) + ": " + error.description);
    });
    if (!proxy)
        return 2;
    proxy->fetchSnapshotWithReply([&](ReplyBytes data) {
        bool ok = data && decodeSnapshot(*data).has_value();
        finish(ok, ok ? *data : "undecodable reply");
    });
    auto result = outcome.get_future();
    if (result.wait_for(std::chrono::seconds(10)) != std::future_status::ready)
        finish(false, "timed out");
    auto [ok, text] = result.get();
    connection.reset(); // silences its handlers
    std::fputs((text + "\n").c_str(), ok ? stdout : stderr);
    return ok ? 0 : 1;
}
