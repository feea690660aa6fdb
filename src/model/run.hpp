#pragma once
// What a training or evaluation call needs from its caller besides the data.

#include <functional>

struct RunHooks {
    // Called at least once per epoch (and during long evaluations); throws
    // Interrupted when a signal such as Ctrl-C is pending.
    std::function<void()> check_interrupt = [] {};
};
