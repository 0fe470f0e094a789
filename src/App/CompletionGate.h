#pragma once

#include <mutex>

// Lets exactly one of several racing events through: the first close() wins.
class CompletionGate {
  public:
    // True for the first caller only; every later caller, on any thread, gets false.
    bool close();

  private:
    std::mutex lock;
    bool completed = false;
};
