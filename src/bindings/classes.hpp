#pragma once
// The three Python classes that carry records (LinearModel, CategoricalModel,
// DynamicOptimizer) and the PanicException class. Each type object is created
// the first time it is needed and kept for the life of the process.

#include <Python.h>

#include "model/categorical.hpp"
#include "model/linear.hpp"
#include "optimizer/dyn_optimizer.hpp"

// Record is LinearModel, CategoricalModel or DynamicOptimizer.

// The class holding Record; NULL with an exception set when it cannot be created.
template <class Record>
PyTypeObject* record_type();

// The bare class name, as error messages show it ("LinearModel").
template <class Record>
const char* record_class_name();

// A new instance that owns `record`; NULL with an exception set.
template <class Record>
PyObject* wrap_record(Record record);

// The record inside `object`, which must be an instance of record_type<Record>()
// or of a subtype.
template <class Record>
const Record& record_of(PyObject* object);

// The exception class raised for internal failures (derived from BaseException);
// NULL with an exception set when it cannot be created.
PyObject* panic_exception_type();
