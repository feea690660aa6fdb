#include "bindings/type_name.hpp"

#include "bindings/py_ref.hpp"

bool raise_cannot_convert(PyObject* object, const char* target) {
    PyRef name(PyType_GetQualName(Py_TYPE(object)));
    if (!name) {
        PyErr_Clear();
        name = PyRef(PyUnicode_FromString("<failed to extract type name>"));
        if (!name) return false;
    }
    PyErr_Format(PyExc_TypeError, "'%U' object cannot be converted to '%s'", name.get(), target);
    return false;
}
