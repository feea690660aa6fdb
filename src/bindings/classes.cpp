#include "bindings/classes.hpp"

#include <memory>

namespace {

// An instance owns one heap-allocated record; the interpreter sizes the
// object from this layout.
template <class Record>
struct RecordObject {
    PyObject_HEAD
    Record* record;
};

// What differs between the three classes. Lines of the docstrings that start
// with "\\n" hold a backslash and the letter n, not a line break.
template <class Record>
struct ClassText;

template <>
struct ClassText<LinearModel> {
    static constexpr const char* qualified_name = "builtins.LinearModel";
    static constexpr const char* name = "LinearModel";
    static constexpr const char* doc =
        "Create a model for categorical outcome data comprised of the\n"
        "cells specified in `layers`. Output types options are:\n"
        "- `linear` (tolvane::activation::linear)\n"
        "\\n Loss type options are:\n"
        "- `mean_squared_error` (tolvane::loss::mean_squared_error)\n"
        "\\n Accuracy type options are:\n"
        "- `linear` (tolvane::accuracy::linear)\n"
        "\\n The `save_best_params` argument specifies where to save\n"
        "the best weights, if desired. `.json` is the supported file\n"
        "extension for saved models.";
};

template <>
struct ClassText<CategoricalModel> {
    static constexpr const char* qualified_name = "builtins.CategoricalModel";
    static constexpr const char* name = "CategoricalModel";
    static constexpr const char* doc =
        "Create a model for categorical outcome data comprised of the\n"
        "cells specified in `layers`. Output types options are:\n"
        "- `softmax`     (tolvane::activation::softmax)\n"
        "\\n Loss type options are:\n"
        "- `categorical_crossentropy` (tolvane::loss::categorical_crossentropy)\n"
        "\\n Accuracy type options are:\n"
        "- `categorical` (tolvane::accuracy::categorical)\n"
        "\\n The `save_best_params` argument specifies where to save\n"
        "the best weights, if desired. `.json` is the supported file\n"
        "extension for saved models.";
};

template <>
struct ClassText<DynamicOptimizer> {
    static constexpr const char* qualified_name = "builtins.DynamicOptimizer";
    static constexpr const char* name = "DynamicOptimizer";
    static constexpr const char* doc =
        "Dynamic optimizer struct that can be either of `opt_type`\n"
        "`adam` or `sgd`, which correspond to the parameter update\n"
        "methods used in `tolvane::optimizer::adam` and\n"
        "`tolvane::optimizer::sgd`, respectively.";
};

// Instances come only from the module's functions.
PyObject* refuse_construction(PyTypeObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, "No constructor defined");
    return nullptr;
}

template <class Record>
void dealloc_record(PyObject* self) {
    delete reinterpret_cast<RecordObject<Record>*>(self)->record;
    PyTypeObject* type = Py_TYPE(self);
    auto free_object = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_object(self);
    // Every instance of a heap type holds a reference to its type.
    Py_DECREF(type);
}

template <class Record>
PyTypeObject* create_record_type() {
    static PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(ClassText<Record>::doc)},
        {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
        {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_record<Record>)},
        {0, nullptr},
    };
    // No Py_TPFLAGS_BASETYPE: the classes cannot be subclassed. Immutable, since
    // the type objects are shared by everything in the process.
    static PyType_Spec spec = {
        ClassText<Record>::qualified_name,
        static_cast<int>(sizeof(RecordObject<Record>)),
        0,
        Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE,
        slots,
    };
    return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
}

}  // namespace

template <class Record>
PyTypeObject* record_type() {
    static PyTypeObject* type = nullptr;
    if (type == nullptr) {
        PyTypeObject* created = create_record_type<Record>();
        if (created == nullptr) return nullptr;
        // Creating a type can run Python code that lets another thread get
        // here first; keep the type that was published first.
        if (type == nullptr)
            type = created;
        else
            Py_DECREF(created);
    }
    return type;
}

template <class Record>
const char* record_class_name() {
    return ClassText<Record>::name;
}

template <class Record>
PyObject* wrap_record(Record record) {
    PyTypeObject* type = record_type<Record>();
    if (type == nullptr) return nullptr;
    auto owned = std::make_unique<Record>(std::move(record));
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* object = alloc(type, 0);
    if (object == nullptr) return nullptr;
    reinterpret_cast<RecordObject<Record>*>(object)->record = owned.release();
    return object;
}

template <class Record>
const Record& record_of(PyObject* object) {
    return *reinterpret_cast<RecordObject<Record>*>(object)->record;
}

template PyTypeObject* record_type<LinearModel>();
template PyTypeObject* record_type<CategoricalModel>();
template PyTypeObject* record_type<DynamicOptimizer>();
template const char* record_class_name<LinearModel>();
template const char* record_class_name<CategoricalModel>();
template const char* record_class_name<DynamicOptimizer>();
template PyObject* wrap_record(LinearModel record);
template PyObject* wrap_record(CategoricalModel record);
template PyObject* wrap_record(DynamicOptimizer record);
template const LinearModel& record_of<LinearModel>(PyObject* object);
template const CategoricalModel& record_of<CategoricalModel>(PyObject* object);
template const DynamicOptimizer& record_of<DynamicOptimizer>(PyObject* object);

PyObject* panic_exception_type() {
    static PyObject* type = nullptr;
    if (type == nullptr) {
        PyObject* created = PyErr_NewExceptionWithDoc(
            "brenik.PanicException",
            "Raised when brenik's native code fails internally.\n\n"
            "Like SystemExit, this exception is derived from BaseException so that\n"
            "it will typically propagate all the way through the stack and cause\n"
            "the Python interpreter to exit.",
            PyExc_BaseException, nullptr);
        if (created == nullptr) return nullptr;
        if (type == nullptr)
            type = created;
        else
            Py_DECREF(created);
    }
    return type;
}
