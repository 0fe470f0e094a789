#pragma once

#include "Platform/AgentService.h"

#include <future>

// The service's operations, waited for.
template <typename Result, typename Operation> Result awaitAgentService(Operation start) {
    std::promise<Result> outcome;
    start([&outcome](Result result) { outcome.set_value(result); });
    return outcome.get_future().get();
}

inline ServiceStatus statusNow(AgentService& service) {
    return awaitAgentService<ServiceStatus>([&](auto done) { service.status(done); });
}

inline bool registered(AgentService& service) {
    return awaitAgentService<bool>([&](auto done) { service.registerService(done); });
}

inline bool unregistered(AgentService& service) {
    return awaitAgentService<bool>([&](auto done) { service.unregisterService(done); });
}
