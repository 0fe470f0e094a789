#pragma once

#include "../Platform/DelayedWorkQueue.h"
#include "../Platform/ServiceConnection.h"
#include "../Shared/SensorSnapshot.h"
#include "ClientError.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string_view>
#include <variant>

// What one fetch hands its caller: a snapshot, the client's own error, or the
// connection's error passed on unchanged.
using FetchResult = std::variant<SensorSnapshot, ClientError, ConnectionError>;

namespace SensorServiceClient {

using Completion = std::function<void(FetchResult)>;
using ConnectionFactory =
    std::function<std::unique_ptr<ServiceConnection>(std::string_view serviceName)>;

// Asks the agent for one fresh snapshot over a new connection and returns at once.
// `completion` runs exactly once, on the thread of whichever event decides the call
// first: the reply, a connection failure or the time-out. Only when the connection
// offers no usable proxy does it run on the calling thread, before this returns.
void fetchSnapshot(std::chrono::duration<double> timeout, Completion completion,
                   const ConnectionFactory& makeConnection = makeServiceConnection,
                   DelayedWorkQueue& timeoutQueue = utilityQueue());

// The time-out a fetch arms for the one asked for: never below 0.1 s.
std::chrono::nanoseconds effectiveTimeout(std::chrono::duration<double> timeout);

} // namespace SensorServiceClient
