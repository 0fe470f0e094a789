#include "SensorServiceClient.h"

#include "../Shared/ServiceContract.h"
#include "CompletionGate.h"
#include "ReplyDecoding.h"

namespace SensorServiceClient {
namespace {

// Lets the several callbacks of one call share its connection.
struct XPCConnectionBox {
    const std::unique_ptr<ServiceConnection> value;
};

// Everything one call's callbacks share.
struct FetchContext {
    FetchContext(std::unique_ptr<ServiceConnection> connection, Completion done)
        : box{std::move(connection)}, completion(std::move(done)) {}

    CompletionGate gate;
    XPCConnectionBox box;
    Completion completion;
};

// By value: clearing the handlers may destroy the very closure that called this.
void finish(std::shared_ptr<FetchContext> context, // NOLINT(performance-unnecessary-value-param)
            FetchResult result) {
    if (!context->gate.close())
        return;
    ServiceConnection& connection = *context->box.value;
    // Cleared first, so the invalidation below does not come back here, and the
    // connection no longer holds the context that holds the connection.
    connection.setInterruptionHandler(nullptr);
    connection.setInvalidationHandler(nullptr);
    connection.invalidate();
    context->completion(std::move(result));
}

FetchResult fetchResult(std::variant<SensorSnapshot, ClientError> decoded) {
    return std::visit(
        [](auto&& value) -> FetchResult { return std::forward<decltype(value)>(value); },
        std::move(decoded));
}

} // namespace

std::chrono::nanoseconds effectiveTimeout(std::chrono::duration<double> timeout) {
    constexpr std::chrono::duration<double> shortest{0.1};
    // Far beyond any use, and short enough that a deadline never overflows the clock.
    constexpr std::chrono::duration<double> longest = std::chrono::hours(24 * 365 * 100);
    if (!(timeout > shortest)) // NaN too
        return std::chrono::duration_cast<std::chrono::nanoseconds>(shortest);
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::min(timeout, longest));
}

void fetchSnapshot(std::chrono::duration<double> timeout, Completion completion,
                   const ConnectionFactory& makeConnection, DelayedWorkQueue& timeoutQueue) {
    auto context = std::make_shared<FetchContext>(makeConnection(contract::sensorMachServiceName),
                                                  std::move(completion));
    ServiceConnection& connection = *context->box.value;

    connection.setCodeSigningRequirement(contract::clientRequirement());
    connection.setInterruptionHandler([context] { finish(context, ClientError::unavailable); });
    connection.setInvalidationHandler([context] { finish(context, ClientError::unavailable); });
    connection.resume();

    // Never cancelled, and holding the call only weakly: the connection's handlers keep
    // it until it finishes, and a finished call is released at once, not at its time-out.
    timeoutQueue.runAfter(effectiveTimeout(timeout), [weak = std::weak_ptr<FetchContext>(context)] {
        if (auto unfinished = weak.lock())
            finish(std::move(unfinished), ClientError::timedOut);
    });

    std::shared_ptr<SensorServiceProxy> proxy = connection.remoteObjectProxy(
        [context](const ConnectionError& error) { finish(context, error); });
    if (!proxy) {
        finish(context, ClientError::unavailable);
        return;
    }
    proxy->fetchSnapshotWithReply([context](ReplyBytes data) {
        finish(context, data ? fetchResult(decodeReply(*data)) : ClientError::responseTooLarge);
    });
}

} // namespace SensorServiceClient
