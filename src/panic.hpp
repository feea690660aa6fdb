#pragma once
// The one internal failure type. Thrown at the point of failure with a message
// naming the shapes or values involved; the bindings turn it into PanicException.

#include <stdexcept>
#include <string>

struct Panic : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Thrown when the caller's interrupt check reports a pending signal. The Python
// exception (KeyboardInterrupt) is already set; the bindings just return NULL.
struct Interrupted {};

// "index out of bounds: the len is 3 but the index is 5"
[[noreturn]] void panic_index(size_t len, size_t index);
