#pragma once
// "'{t}' object cannot be converted to '{target}'", the message of every
// conversion that refuses an object for its type.

#include <Python.h>

// Raises that TypeError for `object` (the __qualname__ attribute of its type, or
// "<failed to extract type name>") and returns false.
bool raise_cannot_convert(PyObject* object, const char* target);
