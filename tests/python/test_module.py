"""The module object, its functions, the three classes and PanicException."""

import inspect
import subprocess
import types
import weakref

import numpy as np
import pytest

import brenik
from model_files import python_child

SIGNATURES = [
    "create_linear_model(output_type, save_best_params)",
    "create_categorical_model(output_type, save_best_params)",
    "add_linear_model_layer(model, n_inputs=None, n_neurons=None, layer_type=None, "
    "activation_type=None, dropout_rate=None)",
    "add_categorical_model_layer(model, n_inputs=None, n_neurons=None, layer_type=None, "
    "activation_type=None, dropout_rate=None)",
    "create_optimizer(opt_type, learning_rate, decay)",
    "train_linear_model(model, opt, num_epochs, print_freq, x, y, val_x, val_y)",
    "train_categorical_model(model, opt, num_epochs, print_freq, x, y, val_x, val_y)",
    "load_linear_model(save_best_params)",
    "evaluate_linear_model(model, val_x, val_y)",
    "load_categorical_model(save_best_params)",
    "evaluate_categorical_model(model, val_x, val_y)",
]
NAMES = [line.split("(")[0] for line in SIGNATURES]

BACKSLASH_N = "\\n"
MODEL_DOC_END = [
    BACKSLASH_N + " The `save_best_params` argument specifies where to save",
    "the best weights, if desired. `.json` is the supported file",
    "extension for saved models.",
]
LINEAR_MODEL_DOC = "\n".join([
    "Create a model for categorical outcome data comprised of the",
    "cells specified in `layers`. Output types options are:",
    "- `linear` (tolvane::activation::linear)",
    BACKSLASH_N + " Loss type options are:",
    "- `mean_squared_error` (tolvane::loss::mean_squared_error)",
    BACKSLASH_N + " Accuracy type options are:",
    "- `linear` (tolvane::accuracy::linear)",
] + MODEL_DOC_END)
CATEGORICAL_MODEL_DOC = "\n".join([
    "Create a model for categorical outcome data comprised of the",
    "cells specified in `layers`. Output types options are:",
    "- `softmax`     (tolvane::activation::softmax)",
    BACKSLASH_N + " Loss type options are:",
    "- `categorical_crossentropy` (tolvane::loss::categorical_crossentropy)",
    BACKSLASH_N + " Accuracy type options are:",
    "- `categorical` (tolvane::accuracy::categorical)",
] + MODEL_DOC_END)
DYNAMIC_OPTIMIZER_DOC = "\n".join([
    "Dynamic optimizer struct that can be either of `opt_type`",
    "`adam` or `sgd`, which correspond to the parameter update",
    "methods used in `tolvane::optimizer::adam` and",
    "`tolvane::optimizer::sgd`, respectively.",
])

CLASSES = [
    ("LinearModel", lambda: brenik.create_linear_model("linear", ""), LINEAR_MODEL_DOC),
    ("CategoricalModel", lambda: brenik.create_categorical_model("softmax", ""),
     CATEGORICAL_MODEL_DOC),
    ("DynamicOptimizer", lambda: brenik.create_optimizer("adam", 0.01, 0.0), DYNAMIC_OPTIMIZER_DOC),
]
class_cases = pytest.mark.parametrize("name, make, doc", CLASSES, ids=[c[0] for c in CLASSES])


def panic_of(call):
    with pytest.raises(BaseException) as info:
        call()
    return info.value


def train_with_print_freq_zero():
    x = np.zeros((1, 1), np.float32)
    y = np.zeros(1, np.float32)
    brenik.train_linear_model(brenik.create_linear_model("linear", ""),
                              brenik.create_optimizer("sgd", 0.1, 0.0), 1, 0, x, y, x, y)


# --- module ------------------------------------------------------------------

def test_module_holds_the_eleven_functions_and_all_only():
    public = [name for name in dir(brenik) if not name.startswith("__")]
    assert sorted(public) == sorted(NAMES)
    assert brenik.__all__ == NAMES
    assert brenik.__doc__ == ""
    assert brenik.__name__ == "brenik"
    for hidden in ("LinearModel", "CategoricalModel", "DynamicOptimizer", "PanicException"):
        assert not hasattr(brenik, hidden)


@pytest.mark.parametrize("line", SIGNATURES, ids=NAMES)
def test_function_docstring_is_its_signature(line):
    name, params = line.split("(", 1)
    function = getattr(brenik, name)
    assert isinstance(function, types.BuiltinFunctionType)
    assert function.__self__ is brenik
    assert function.__name__ == name
    assert function.__doc__ is None
    assert function.__text_signature__ == "(" + params
    assert f"{name}{inspect.signature(function)}" == line


# A second initialisation, run in a child so that a failure cannot take this
# process down: the main interpreter imports the module anew and keeps its
# classes; a sub-interpreter is refused, and the main one goes on working.
SECOND_INITIALISATION = '''
import sys
import _xxsubinterpreters as interpreters
import brenik
first = brenik, type(brenik.create_linear_model("linear", ""))
del sys.modules["brenik"]
import brenik
print(brenik is not first[0], type(brenik.create_linear_model("linear", "")) is first[1])
interpreters.run_string(interpreters.create(), """
try:
    import brenik
except ImportError as error:
    print(type(error).__name__, error, flush=True)
""")
print(type(brenik.create_linear_model("linear", "")) is first[1])
'''


def test_second_initialisation_only_in_the_first_interpreter():
    result = subprocess.run(**python_child(SECOND_INITIALISATION), timeout=60)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "True True",
        "ImportError brenik may only be initialized in one interpreter per process",
        "True",
    ]


# --- classes -----------------------------------------------------------------

@class_cases
def test_class_names_and_docstring(name, make, doc):
    obj = make()
    cls = type(obj)
    assert (cls.__name__, cls.__qualname__, cls.__module__) == (name, name, "builtins")
    assert cls.__bases__ == (object,)
    assert cls.__doc__ == doc
    assert repr(obj).startswith(f"<builtins.{name} object at 0x")


@class_cases
def test_class_has_no_constructor(name, make, doc):
    cls = type(make())
    for construct in (cls, lambda: cls.__new__(cls), lambda: cls(1, key=2)):
        with pytest.raises(TypeError, match="^No constructor defined$"):
            construct()
    # Going around the class's own __new__ must not make a record-less object.
    with pytest.raises(TypeError):
        object.__new__(cls)


@class_cases
def test_class_cannot_be_subclassed(name, make, doc):
    with pytest.raises(TypeError, match="is not an acceptable base type"):
        type("Derived", (type(make()),), {})


@class_cases
def test_instances_have_no_dict_weakref_or_attributes(name, make, doc):
    obj = make()
    assert not hasattr(obj, "__dict__")
    with pytest.raises(AttributeError):
        obj.layers = []
    with pytest.raises(TypeError):
        weakref.ref(obj)
    cls = type(obj)
    assert [a for a in vars(cls) if not a.startswith("__")] == []
    # The classes are shared by the whole process; nobody can patch them.
    with pytest.raises(TypeError):
        cls.extra = 1


@class_cases
def test_every_instance_shares_one_class(name, make, doc):
    assert type(make()) is type(make())


# --- PanicException ------------------------------------------------------------

def test_panic_exception_derives_from_base_exception_only():
    panic = panic_of(train_with_print_freq_zero)
    cls = type(panic)
    assert cls.__name__ == "PanicException"
    assert cls.__bases__ == (BaseException,)
    assert not isinstance(panic, Exception)
    assert panic.args == ("attempt to divide by zero",)
    assert "BaseException" in cls.__doc__ and "SystemExit" in cls.__doc__
    assert type(panic_of(train_with_print_freq_zero)) is cls


def test_except_exception_does_not_catch_panic():
    caught_by = None
    try:
        try:
            train_with_print_freq_zero()
        except Exception:
            caught_by = "Exception"
    except BaseException:
        caught_by = "BaseException"
    assert caught_by == "BaseException"


@pytest.mark.parametrize("call", [
    train_with_print_freq_zero,
    lambda: brenik.load_linear_model("/nonexistent/brenik/model.json"),
], ids=["training", "loading"])
def test_panic_writes_one_diagnostic_line_to_stderr(capfd, call):
    panic = panic_of(call)
    out, err = capfd.readouterr()
    assert out == ""
    assert err == f"brenik: panicked: {panic.args[0]}\n"
