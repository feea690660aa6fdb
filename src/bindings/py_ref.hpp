#pragma once
// An owned reference to a Python object, released when the holder goes away.

#include <Python.h>

#include <utility>

class PyRef {
public:
    PyRef() = default;
    // Takes over a new reference (possibly NULL, after a failed C-API call).
    explicit PyRef(PyObject* owned) : object_(owned) {}
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~PyRef() { Py_XDECREF(object_); }

    PyObject* get() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }
    // Hands the reference to the caller (a C-API function that steals it, or a return).
    PyObject* release() { return std::exchange(object_, nullptr); }

private:
    PyObject* object_ = nullptr;
};

// The pending exception, taken out of the interpreter and normalised; every
// member is NULL when none was pending.
struct PendingError {
    PyRef type;
    PyRef value;
    PyRef traceback;
};

// PyErr_Fetch is the way under the 3.11 limited API; newer headers mark it
// deprecated in favour of a function that API does not have yet.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
inline PendingError take_pending_error() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    return {PyRef(type), PyRef(value), PyRef(traceback)};
}

// Makes `error` pending again.
inline void restore_pending_error(PendingError error) {
    PyErr_Restore(error.type.release(), error.value.release(), error.traceback.release());
}
#pragma GCC diagnostic pop
