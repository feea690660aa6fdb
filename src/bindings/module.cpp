// Module initialisation: the module object, its functions and __all__.
#include <Python.h>

#include <cstdint>

#include "bindings/functions.hpp"
#include "bindings/py_ref.hpp"

namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "brenik",
    "",  // __doc__
    // Single-phase, no per-module state. Not -1: for -1 the interpreter keeps a
    // copy of the module's dict and hands it to every later import, also in a
    // sub-interpreter, without calling PyInit_brenik; for 0 it calls it again.
    0,
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

// The interpreter that first initialised the module, -1 before. The type
// objects, PanicException and NumPy's types are process-wide and belong to it.
// An id, unlike the state's address, is never reused by a later interpreter.
int64_t owner_interpreter = -1;

}  // namespace

PyMODINIT_FUNC PyInit_brenik() {
    // The owner may initialise the module again (an import after removing it
    // from sys.modules); any other interpreter is refused.
    int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter < 0) return nullptr;
    if (owner_interpreter != -1 && owner_interpreter != interpreter) {
        PyErr_SetString(PyExc_ImportError,
                        "brenik may only be initialized in one interpreter per process");
        return nullptr;
    }
    PyRef module(PyModule_Create(&module_definition));
    if (!module) return nullptr;
    PyRef all(function_names());
    if (!all || PyModule_AddObjectRef(module.get(), "__all__", all.get()) != 0) return nullptr;
    owner_interpreter = interpreter;
    return module.release();
}
