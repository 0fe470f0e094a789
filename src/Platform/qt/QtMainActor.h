#pragma once

#include "../MainActor.h"

#include <QObject>

// The main actor as the Qt event loop of the GUI thread. Made on that thread; it must
// outlive everything that may post to it, fetches still in flight included.
class QtMainActor final : public MainActor {
  public:
    void post(std::function<void()> work) override;
    void postAt(ContinuousInstant deadline, std::function<void()> work) override;
    ContinuousInstant now() const override { return continuousNow(); }

  private:
    QObject context_;
};
