#pragma once
// Intake of NumPy arrays: the rank and element-type tests, then a read-only
// strided view of the caller's memory for the core to copy.

#include <Python.h>

#include <cstdint>
#include <vector>

#include "array.hpp"

// An accepted array argument. It holds the array's buffer export for the
// whole call, so the memory stays valid and NumPy refuses to resize the array
// while the core reads it.
template <class T, int Rank>
struct ArrayArg {
    StridedView<T> view;

    ArrayArg() = default;
    ArrayArg(const ArrayArg&) = delete;
    ArrayArg& operator=(const ArrayArg&) = delete;
    ~ArrayArg() {
        if (held) PyBuffer_Release(&buffer);
    }

    Py_buffer buffer{};
    bool held = false;
    // Elements copied out when the array's memory is not laid out in whole,
    // aligned elements (a stride that is not a multiple of the element size).
    std::vector<T> aligned_copy;
};

using MatrixArg = ArrayArg<float, 2>;    // 2-D float32: samples x features
using VectorArg = ArrayArg<float, 1>;    // 1-D float32: one target per sample
using LabelArg = ArrayArg<int32_t, 1>;   // 1-D int32: one class index per sample

// Tests, in order: a numpy.ndarray (or subclass), the rank, the element type
// (NumPy's dtype equivalence). Each failure is a TypeError with its own message.
// Panics (PanicException) when NumPy cannot be imported.
bool convert(PyObject* object, MatrixArg& array);
bool convert(PyObject* object, VectorArg& array);
bool convert(PyObject* object, LabelArg& array);
