#include "bindings/intake.hpp"

#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>

#include "bindings/py_ref.hpp"
#include "bindings/type_name.hpp"
#include "panic.hpp"

namespace {

// What the tests compare against, taken from NumPy once and kept for the process.
struct NumpyTypes {
    PyTypeObject* ndarray = nullptr;
    PyObject* float32 = nullptr;  // numpy.dtype("float32")
    PyObject* int32 = nullptr;    // numpy.dtype("int32")
};

// "ImportError: No module named 'numpy'" for the pending exception, which is cleared.
std::string take_error_description() {
    PendingError error = take_pending_error();
    std::string description = "unknown error";
    if (error.type) {
        PyRef name(PyType_GetName(reinterpret_cast<PyTypeObject*>(error.type.get())));
        PyRef text(error.value ? PyObject_Str(error.value.get()) : nullptr);
        const char* name_utf8 = name ? PyUnicode_AsUTF8AndSize(name.get(), nullptr) : nullptr;
        const char* text_utf8 = text ? PyUnicode_AsUTF8AndSize(text.get(), nullptr) : nullptr;
        if (name_utf8 != nullptr) description = name_utf8;
        if (text_utf8 != nullptr && *text_utf8 != '\0') description.append(": ").append(text_utf8);
    }
    PyErr_Clear();
    return description;
}

bool load_numpy_types(NumpyTypes& types) {
    PyRef numpy(PyImport_ImportModule("numpy"));
    if (!numpy) return false;
    PyRef ndarray(PyObject_GetAttrString(numpy.get(), "ndarray"));
    if (!ndarray) return false;
    if (!PyType_Check(ndarray.get())) {
        PyErr_SetString(PyExc_TypeError, "numpy.ndarray is not a type");
        return false;
    }
    PyRef dtype(PyObject_GetAttrString(numpy.get(), "dtype"));
    if (!dtype) return false;
    PyRef float32(PyObject_CallFunction(dtype.get(), "s", "float32"));
    if (!float32) return false;
    PyRef int32(PyObject_CallFunction(dtype.get(), "s", "int32"));
    if (!int32) return false;
    types.ndarray = reinterpret_cast<PyTypeObject*>(ndarray.release());
    types.float32 = float32.release();
    types.int32 = int32.release();
    return true;
}

// Imported on the first array argument; a failure is retried on the next call.
const NumpyTypes& numpy_types() {
    static NumpyTypes types;
    if (types.ndarray == nullptr) {
        NumpyTypes loaded;
        if (!load_numpy_types(loaded))
            throw Panic("Failed to access NumPy array API capsule: " + take_error_description());
        // Importing can run Python code that lets another thread load them first.
        if (types.ndarray == nullptr)
            types = loaded;
        else {
            Py_DECREF(loaded.ndarray);
            Py_DECREF(loaded.float32);
            Py_DECREF(loaded.int32);
        }
    }
    return types;
}

template <class T>
PyObject* required_dtype(const NumpyTypes& types) {
    if constexpr (std::is_same_v<T, float>)
        return types.float32;
    else
        return types.int32;
}

// The buffer's format names T in native byte order and standard or native size.
template <class T>
bool is_native_format(const char* format) {
    if (format == nullptr) return false;
    if (*format == '@' || *format == '=' || *format == '<') {
        // '<' is native only on a little-endian host.
        if (*format == '<' && !(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__)) return false;
        ++format;
    }
    if (std::strlen(format) != 1) return false;
    if constexpr (std::is_same_v<T, float>)
        return format[0] == 'f';
    else
        return format[0] == 'i' || format[0] == 'l';
}

bool raise_rank_mismatch(long rank, int required) {
    PyErr_Format(PyExc_TypeError, "dimensionality mismatch:\n from=%ld, to=%d", rank, required);
    return false;
}

// The rank and element-type tests on the array's own attributes, before any
// buffer is requested (some dtypes, datetime64 for one, cannot export one).
template <class T, int Rank>
bool test_array_attributes(PyObject* object, const NumpyTypes& types) {
    PyRef ndim(PyObject_GetAttrString(object, "ndim"));
    if (!ndim) return false;
    long rank = PyLong_AsLong(ndim.get());
    if (rank == -1 && PyErr_Occurred()) return false;
    if (rank != Rank) return raise_rank_mismatch(rank, Rank);

    PyRef dtype(PyObject_GetAttrString(object, "dtype"));
    if (!dtype) return false;
    PyObject* required = required_dtype<T>(types);
    if (dtype.get() == required) return true;
    int equivalent = PyObject_RichCompareBool(dtype.get(), required, Py_EQ);
    if (equivalent < 0) return false;
    if (equivalent == 0) {
        PyErr_Format(PyExc_TypeError, "type mismatch:\n from=%S, to=%S", dtype.get(), required);
        return false;
    }
    return true;
}

// Takes the buffer and checks that it really is what the attributes said (an
// ndarray subclass can override them); the view is built from the buffer only.
template <class T, int Rank>
bool take_buffer(PyObject* object, const NumpyTypes& types, ArrayArg<T, Rank>& array) {
    if (PyObject_GetBuffer(object, &array.buffer, PyBUF_RECORDS_RO) != 0) return false;
    array.held = true;
    Py_buffer& buffer = array.buffer;
    if (buffer.ndim != Rank) return raise_rank_mismatch(buffer.ndim, Rank);
    if (buffer.itemsize != Py_ssize_t(sizeof(T)) || !is_native_format<T>(buffer.format)) {
        PyErr_Format(PyExc_TypeError, "type mismatch:\n from=%s, to=%S",
                     buffer.format == nullptr ? "B" : buffer.format, required_dtype<T>(types));
        return false;
    }
    return true;
}

template <class T, int Rank>
bool build_view(ArrayArg<T, Rank>& array) {
    const Py_buffer& buffer = array.buffer;
    Py_ssize_t shape[2] = {buffer.shape[0], Rank == 2 ? buffer.shape[1] : 1};
    Py_ssize_t strides[2] = {Py_ssize_t(sizeof(T)), Py_ssize_t(sizeof(T))};
    if (buffer.strides != nullptr)
        for (int d = 0; d < Rank; ++d) strides[d] = buffer.strides[d];
    else if (Rank == 2)
        strides[0] = shape[1] * Py_ssize_t(sizeof(T));

    bool whole_elements = reinterpret_cast<uintptr_t>(buffer.buf) % alignof(T) == 0;
    for (int d = 0; d < Rank; ++d) whole_elements = whole_elements && strides[d] % Py_ssize_t(sizeof(T)) == 0;

    StridedView<T>& view = array.view;
    view.rows = size_t(shape[0]);
    view.cols = size_t(shape[1]);
    if (whole_elements) {
        view.base = static_cast<const T*>(buffer.buf);
        view.row_stride = strides[0] / Py_ssize_t(sizeof(T));
        view.col_stride = Rank == 2 ? strides[1] / Py_ssize_t(sizeof(T)) : 1;
        return true;
    }
    // Strides in bytes that are not whole elements cannot be walked as T*: copy
    // the elements out in logical order first.
    array.aligned_copy.resize(size_t(buffer.len) / sizeof(T));
    if (PyBuffer_ToContiguous(array.aligned_copy.data(), &buffer, buffer.len, 'C') != 0) return false;
    view.base = array.aligned_copy.data();
    view.row_stride = Rank == 2 ? shape[1] : 1;
    view.col_stride = 1;
    return true;
}

template <class T, int Rank>
bool convert_array(PyObject* object, ArrayArg<T, Rank>& array) {
    const NumpyTypes& types = numpy_types();
    if (!PyObject_TypeCheck(object, types.ndarray)) return raise_cannot_convert(object, "PyArray<T, D>");
    if (!test_array_attributes<T, Rank>(object, types)) return false;
    return take_buffer(object, types, array) && build_view(array);
}

}  // namespace

bool convert(PyObject* object, MatrixArg& array) { return convert_array(object, array); }
bool convert(PyObject* object, VectorArg& array) { return convert_array(object, array); }
bool convert(PyObject* object, LabelArg& array) { return convert_array(object, array); }
