#pragma once

#include "App/SensorServiceClient.h"

#include <mutex>
#include <vector>

// Collects what fetch completions deliver, from any thread.
class FetchResults {
  public:
    SensorServiceClient::Completion completion() {
        return [this](FetchResult result) {
            std::lock_guard held(mutex);
            delivered.push_back(std::move(result));
        };
    }

    std::vector<FetchResult> all() const {
        std::lock_guard held(mutex);
        return delivered;
    }

  private:
    mutable std::mutex mutex;
    std::vector<FetchResult> delivered;
};
