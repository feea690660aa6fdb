#pragma once
// The module's function table: eleven entries in registration order, then the
// terminating sentinel.

#include <Python.h>

extern PyMethodDef module_functions[];
