// Module initialisation: the module object, its functions and __all__.
#include <Python.h>

#include "bindings/functions.hpp"
#include "bindings/py_ref.hpp"

namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "brenik",
    "",  // __doc__
    -1,  // single-phase: no per-module state
    module_functions,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// __all__: the function names in the order of the table.
PyObject* function_names() {
    PyRef names(PyList_New(0));
    if (!names) return nullptr;
    for (const PyMethodDef* function = module_functions; function->ml_name != nullptr; ++function) {
        PyRef name(PyUnicode_FromString(function->ml_name));
        if (!name || PyList_Append(names.get(), name.get()) != 0) return nullptr;
    }
    return names.release();
}

}  // namespace

PyMODINIT_FUNC PyInit_brenik() {
    // The type objects and NumPy's types are process-wide and belong to the
    // first interpreter that loads the module, so it loads once per process.
    static bool initialized = false;
    if (initialized) {
        PyErr_SetString(PyExc_ImportError,
                        "brenik may only be initialized once per interpreter process");
        return nullptr;
    }
    PyRef module(PyModule_Create(&module_definition));
    if (!module) return nullptr;
    PyRef all(function_names());
    if (!all || PyModule_AddObjectRef(module.get(), "__all__", all.get()) != 0) return nullptr;
    initialized = true;
    return module.release();
}
