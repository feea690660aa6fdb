#pragma once
// What a training or evaluation call needs from its caller besides the data.

#include <functional>

// How long the model file may lag the best model of a running training call:
// the pending best is written once it has waited max(min_lag_seconds,
// writes_per_lag x the last write's duration), and at the end of the call.
// Zero for both writes at every improvement.
struct CheckpointTiming {
    double min_lag_seconds = 2.0;
    double writes_per_lag = 10.0;
};

struct RunHooks {
    // Called at least once per epoch (and during long evaluations); throws
    // Interrupted when a signal such as Ctrl-C is pending.
    std::function<void()> check_interrupt = [] {};
    CheckpointTiming checkpoint_timing;
};
