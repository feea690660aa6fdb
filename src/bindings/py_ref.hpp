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
