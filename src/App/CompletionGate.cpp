#include "CompletionGate.h"

bool CompletionGate::close() {
    std::lock_guard held(lock);
    if (completed)
        return false;
    completed = true;
    return true;
}
