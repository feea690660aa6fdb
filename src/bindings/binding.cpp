#include "bindings/binding.hpp"

#include <string>
#include <vector>

#include "bindings/classes.hpp"
#include "bindings/py_ref.hpp"
#include "bindings/type_name.hpp"

namespace {

bool raise_too_many_positional(const Signature& signature, Py_ssize_t given) {
    const char* was = given == 1 ? "was" : "were";
    if (signature.required == signature.params.size())
        PyErr_Format(PyExc_TypeError, "%s() takes %zu positional arguments but %zd %s given",
                     signature.name, signature.params.size(), given, was);
    else
        PyErr_Format(PyExc_TypeError, "%s() takes from %zu to %zu positional arguments but %zd %s given",
                     signature.name, signature.required, signature.params.size(), given, was);
    return false;
}

// 'a' / 'a' and 'b' / 'a', 'b', and 'c'
std::string quoted_list(const std::vector<const char*>& names) {
    std::string list;
    for (size_t i = 0; i < names.size(); ++i) {
        if (i > 0) list += names.size() == 2 ? " and " : ", ";
        if (i > 0 && i + 1 == names.size() && names.size() > 2) list += "and ";
        list += '\'';
        list += names[i];
        list += '\'';
    }
    return list;
}

bool raise_missing(const Signature& signature, const std::vector<const char*>& missing) {
    PyErr_Format(PyExc_TypeError, "%s() missing %zu required positional argument%s: %s",
                 signature.name, missing.size(), missing.size() == 1 ? "" : "s",
                 quoted_list(missing).c_str());
    return false;
}

// Index of the parameter named `keyword`, or params.size() when none is.
size_t find_parameter(const Signature& signature, PyObject* keyword) {
    for (size_t i = 0; i < signature.params.size(); ++i)
        if (PyUnicode_CompareWithASCIIString(keyword, signature.params[i]) == 0) return i;
    return signature.params.size();
}

}  // namespace

bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** slots) {
    size_t count = signature.params.size();
    if (size_t(nargs) > count) return raise_too_many_positional(signature, nargs);
    for (size_t i = 0; i < count; ++i) slots[i] = i < size_t(nargs) ? args[i] : nullptr;

    Py_ssize_t nkeywords = kwnames == nullptr ? 0 : PyTuple_Size(kwnames);
    if (nkeywords < 0) return false;
    for (Py_ssize_t k = 0; k < nkeywords; ++k) {
        PyObject* keyword = PyTuple_GetItem(kwnames, k);
        if (keyword == nullptr) return false;
        if (!PyUnicode_Check(keyword)) {
            PyErr_Format(PyExc_TypeError, "%s() keywords must be strings", signature.name);
            return false;
        }
        size_t i = find_parameter(signature, keyword);
        if (i == count) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                         signature.name, keyword);
            return false;
        }
        if (slots[i] != nullptr) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'",
                         signature.name, signature.params[i]);
            return false;
        }
        slots[i] = args[nargs + k];
    }

    std::vector<const char*> missing;
    for (size_t i = 0; i < signature.required; ++i)
        if (slots[i] == nullptr) missing.push_back(signature.params[i]);
    if (!missing.empty()) return raise_missing(signature, missing);
    return true;
}

void relabel_type_error(const char* name) {
    PendingError original = take_pending_error();
    if (!PyErr_GivenExceptionMatches(original.type.get(), PyExc_TypeError)) {
        restore_pending_error(std::move(original));
        return;
    }
    PyRef message(PyObject_Str(original.value.get()));
    if (!message) return;
    PyRef text(PyUnicode_FromFormat("argument '%s': %U", name, message.get()));
    if (!text) return;
    PyRef relabelled(PyObject_CallFunctionObjArgs(PyExc_TypeError, text.get(), nullptr));
    if (!relabelled) return;
    // The original's cause carries over; the original itself is not chained.
    if (PyObject* cause = PyException_GetCause(original.value.get()))
        PyException_SetCause(relabelled.get(), cause);
    restore_pending_error({PyRef(Py_NewRef(PyExc_TypeError)), std::move(relabelled), PyRef()});
}

bool convert(PyObject* object, std::string& text) {
    if (!PyUnicode_Check(object)) return raise_cannot_convert(object, "PyString");
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (utf8 == nullptr) return false;
    text.assign(utf8, size_t(size));
    return true;
}

bool convert(PyObject* object, uint64_t& count) {
    PyRef index(PyNumber_Index(object));
    if (!index) return false;
    unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    count = value;
    return true;
}

bool convert(PyObject* object, uint16_t& small_count) {
    PyRef index(PyNumber_Index(object));
    if (!index) return false;
    long value = PyLong_AsLong(index.get());
    if (value == -1 && PyErr_Occurred()) return false;
    if (value < 0 || value > UINT16_MAX) {
        PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
        return false;
    }
    small_count = uint16_t(value);
    return true;
}

bool convert(PyObject* object, float& real) {
    double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return false;
    // IEEE rounding to nearest: a finite value beyond the float range becomes
    // an infinity of its sign, NaN and infinities pass through.
    real = static_cast<float>(value);
    return true;
}

namespace {

template <class Record>
bool convert_record(PyObject* object, Record& record) {
    PyTypeObject* type = record_type<Record>();
    if (type == nullptr) return false;
    if (!PyObject_TypeCheck(object, type))
        return raise_cannot_convert(object, record_class_name<Record>());
    record = record_of<Record>(object);
    return true;
}

}  // namespace

bool convert(PyObject* object, LinearModel& model) { return convert_record(object, model); }
bool convert(PyObject* object, CategoricalModel& model) { return convert_record(object, model); }
bool convert(PyObject* object, DynamicOptimizer& opt) { return convert_record(object, opt); }
