#include "bindings/failure.hpp"

#include <cerrno>
#include <string>
#include <unistd.h>

#include "bindings/classes.hpp"
#include "bindings/py_ref.hpp"

namespace {

// Continues after partial writes and signals; a failing standard error is not
// worth a second failure.
void write_stderr(std::string_view text) noexcept {
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t written = write(2, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return;
        }
        data += written;
        left -= size_t(written);
    }
}

}  // namespace

void raise_panic(std::string_view message) noexcept {
    constexpr std::string_view prefix = "brenik: panicked: ";
    try {
        // The whole line in one write, so it does not interleave with others.
        write_stderr(std::string(prefix).append(message).append("\n"));
    } catch (...) {
        write_stderr(prefix);
        write_stderr(message);
        write_stderr("\n");
    }
    PyObject* panic_type = panic_exception_type();
    if (panic_type == nullptr) return;
    // Messages can carry bytes of file names that are not UTF-8.
    PyRef text(PyUnicode_DecodeUTF8(message.data(), Py_ssize_t(message.size()), "replace"));
    if (!text) return;
    PyErr_SetObject(panic_type, text.get());
}
