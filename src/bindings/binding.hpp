#pragma once
// Argument binding and conversion for the module functions. Every function
// here returns false with a Python exception set when it fails.

#include <Python.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "bindings/intake.hpp"
#include "model/categorical.hpp"
#include "model/linear.hpp"
#include "optimizer/dyn_optimizer.hpp"

// Parameters are positional-or-keyword; the first `required` are required,
// the rest optional (absent and None mean the same).
struct Signature {
    const char* name;
    std::span<const char* const> params;
    size_t required;
};

// Fills slots[i] (borrowed, NULL when absent) for every parameter from a
// vectorcall argument list. Tests, in order: too many positional arguments,
// each keyword in the caller's order, then all missing required parameters.
bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** slots);

// One conversion per argument kind.
bool convert(PyObject* object, std::string& text);      // str -> UTF-8
bool convert(PyObject* object, uint64_t& count);        // __index__, 0 .. 2^64 - 1
bool convert(PyObject* object, uint16_t& small_count);  // __index__, 0 .. 65535
bool convert(PyObject* object, float& real);            // float(), rounded to 32 bits
bool convert(PyObject* object, LinearModel& model);     // deep copy of the record
bool convert(PyObject* object, CategoricalModel& model);
bool convert(PyObject* object, DynamicOptimizer& opt);

// Optional parameters: absent or None leaves the value empty.
template <class T>
bool convert(PyObject* object, std::optional<T>& value) {
    if (object == nullptr || object == Py_None) {
        value.reset();
        return true;
    }
    return convert(object, value.emplace());
}

// A TypeError (or subclass) pending from a conversion becomes "argument '{name}': {message}"
// and keeps the original's __cause__; other exceptions stay as they are.
void relabel_type_error(const char* name);

// Converts the bound slots into `values`, in parameter order; the first
// failure wins and is relabelled with its parameter's name.
template <class... Values>
bool convert_arguments(const Signature& signature, PyObject* const* slots, Values&... values) {
    size_t i = 0;
    auto convert_next = [&](auto& value) {
        bool converted = convert(slots[i], value);
        if (!converted) relabel_type_error(signature.params[i]);
        ++i;
        return converted;
    };
    return (convert_next(values) && ...);
}
