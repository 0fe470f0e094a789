#pragma once

#include "Platform/MainActor.h"

#include <algorithm>
#include <deque>
#include <map>

// The main actor played by hand, on virtual time: nothing runs until the test lets it.
class ManualMainActor final : public MainActor {
  public:
    void post(std::function<void()> work) override { posted_.push_back(std::move(work)); }
    void postAt(ContinuousInstant deadline, std::function<void()> work) override {
        timed_.emplace(deadline, std::move(work));
    }
    ContinuousInstant now() const override { return now_; }

    // Moves the clock on by `step`, running what is posted, and timed work as it falls due.
    void advance(std::chrono::nanoseconds step = {}) {
        const ContinuousInstant end = now_ + step;
        for (;;) {
            std::function<void()> work;
            if (!posted_.empty()) {
                work = std::move(posted_.front());
                posted_.pop_front();
            } else if (!timed_.empty() && timed_.begin()->first <= end) {
                now_ = std::max(now_, timed_.begin()->first);
                work = std::move(timed_.begin()->second);
                timed_.erase(timed_.begin());
            } else {
                break;
            }
            work();
        }
        now_ = end;
    }

  private:
    ContinuousInstant now_{};
    std::deque<std::function<void()>> posted_;
    std::multimap<ContinuousInstant, std::function<void()>> timed_;
};
