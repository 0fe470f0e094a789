#include "QtMainActor.h"

#include <QTimer>

void QtMainActor::post(std::function<void()> work) {
    QMetaObject::invokeMethod(&context_, std::move(work), Qt::QueuedConnection);
}

void QtMainActor::postAt(ContinuousInstant deadline, std::function<void()> work) {
    // Rounded up, so the work never runs before its deadline.
    auto delay = std::chrono::ceil<std::chrono::milliseconds>(deadline - continuousNow());
    QTimer::singleShot(std::max(delay, std::chrono::milliseconds(0)), Qt::PreciseTimer, &context_,
                       std::move(work));
}
