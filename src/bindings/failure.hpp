#pragma once
// The one place where C++ failures become Python exceptions: nothing thrown
// by the core ever crosses into the interpreter.

#include <Python.h>

#include <new>
#include <stdexcept>
#include <string_view>

#include "panic.hpp"

// Writes "brenik: panicked: {message}" to standard error and raises
// PanicException(message).
void raise_panic(std::string_view message) noexcept;

// Runs one call's body (which returns a new reference, or NULL with an
// exception set) and turns anything it throws into a Python exception.
template <class Body>
PyObject* guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const Interrupted&) {
        // The signal handler's exception (KeyboardInterrupt) is already set.
        if (!PyErr_Occurred()) raise_panic("interrupted");
    } catch (const Panic& failure) {
        raise_panic(failure.what());
    } catch (const std::bad_alloc&) {
        raise_panic("memory allocation failed: out of memory");
    } catch (const std::length_error&) {
        raise_panic("memory allocation failed: requested size too large");
    } catch (const std::exception& failure) {
        raise_panic(failure.what());
    } catch (...) {
        raise_panic("unknown internal failure");
    }
    return nullptr;
}
