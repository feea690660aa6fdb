#include "bindings/type_name.hpp"

#include "bindings/py_ref.hpp"

bool raise_cannot_convert(PyObject* object, const char* target) {
    // Read as an attribute, so that a metaclass that overrides or breaks
    // __qualname__ is honoured; anything but a str is no name.
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(object));
    PyRef name(PyObject_GetAttrString(type, "__qualname__"));
    if (!name || !PyUnicode_Check(name.get())) {
        PyErr_Clear();
        name = PyRef(PyUnicode_FromString("<failed to extract type name>"));
        if (!name) return false;
    }
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", name.get(), target);
    return false;
}
