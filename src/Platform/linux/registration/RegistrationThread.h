#pragma once

#include "../system/Result.h"

#include <functional>

// The one thread that talks to the service manager for every window of the app, one
// operation at a time: two windows' operations never interleave, and no window's thread
// ever waits for the manager.

// Queues `work`; a failure, with nothing queued, when no thread could be made for it.
Result<void> queueRegistrationWork(std::function<void()> work, bool changesRegistration);

// Waits until the work that changes the registration, queued or under way, has ended;
// the rest, not yet begun, is dropped.
void finishRegistrationWork();
