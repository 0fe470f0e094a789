// Fetches one snapshot from the sensor service and prints its JSON on standard output,
// or the reason it failed on standard error (exit status 1).
//   corvane-fetch [timeout-seconds]     (default 10)
#include "Platform/ServiceConnection.h"
#include "Shared/ServiceContract.h"
#include "Shared/SnapshotJSON.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>

namespace {

struct Outcome {
    bool ok = false;
    std::string text;
};

class Gate {
  public:
    void finish(Outcome outcome) {
        std::lock_guard lock(mutex_);
        if (!outcome_) {
            outcome_ = std::move(outcome);
            done_.notify_all();
        }
    }
    Outcome wait(std::chrono::duration<double> limit) {
        std::unique_lock lock(mutex_);
        if (!done_.wait_for(lock, limit, [this] { return outcome_.has_value(); }))
            return {false, "timed out"};
        return *outcome_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    std::optional<Outcome> outcome_;
};

} // namespace

int main(int argc, char** argv) {
    double timeout = argc > 1 ? std::atof(argv[1]) : 10.0;
    Gate gate;
    auto connection = makeServiceConnection(contract::sensorMachServiceName);
    connection->setCodeSigningRequirement(contract::clientRequirement());
    connection->setInterruptionHandler([&] { gate.finish({false, "interrupted"}); });
    connection->setInvalidationHandler([&] { gate.finish({false, "invalidated"}); });
    connection->resume();
    auto proxy = connection->remoteObjectProxy([&](const ConnectionError& error) {
        gate.finish(
            {false, "transport error " + std::to_string(error.code) + ": " + error.description});
    });
    if (!proxy) {
        std::fputs("no usable proxy\n", stderr);
        return 1;
    }
    proxy->fetchSnapshotWithReply([&](std::string data) {
        if (decodeSnapshot(data))
            gate.finish({true, std::move(data)});
        else
            gate.finish({false, "undecodable reply of " + std::to_string(data.size()) + " bytes"});
    });
    Outcome outcome = gate.wait(std::chrono::duration<double>(timeout));
    connection->setInterruptionHandler(nullptr);
    connection->setInvalidationHandler(nullptr);
    connection->invalidate();
    std::fputs((outcome.text + "\n").c_str(), outcome.ok ? stdout : stderr);
    return outcome.ok ? 0 : 1;
}
