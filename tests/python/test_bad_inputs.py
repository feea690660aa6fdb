"""Every wrong kind of value, passed to every parameter of every function, gets
its own exception and never takes the interpreter down; then the values of the
right kind that cannot work (sizes beyond memory, odd selector texts, paths
that cannot be read or written) fail as PanicException with a message saying
why."""

import decimal
import fractions
import json
import math
import os
import pathlib
import subprocess

import numpy as np
import pytest

import brenik
from model_files import (NO_VALIDATION, categorical, dense_layer, f32, i32, linear,
                         optimizer, python_child)

X = np.array([[0.5, 1.0], [1.5, -1.0], [2.0, 0.0]], np.float32)
Y = np.array([1.0, 0.0, 2.0], np.float32)
LABELS = np.array([1, 0, 1], np.int32)


# The parameters of every function, each with its kind and a value that works.
SIGNATURES = {
    "create_linear_model": [("output_type", "text", "linear"), ("save_best_params", "text", "")],
    "create_categorical_model": [("output_type", "text", "softmax"),
                                 ("save_best_params", "text", "")],
    "add_linear_model_layer": [("model", "linear", linear), ("n_inputs", "count?", 2),
                               ("n_neurons", "count?", 1), ("layer_type", "text?", "dense"),
                               ("activation_type", "text?", "relu"),
                               ("dropout_rate", "real?", 0.0)],
    "add_categorical_model_layer": [("model", "categorical", categorical),
                                    ("n_inputs", "count?", 2), ("n_neurons", "count?", 2),
                                    ("layer_type", "text?", "dense"),
                                    ("activation_type", "text?", "relu"),
                                    ("dropout_rate", "real?", 0.0)],
    "create_optimizer": [("opt_type", "text", "adam"), ("learning_rate", "real", 0.01),
                         ("decay", "real", 0.0)],
    "train_linear_model": [("model", "linear", linear), ("opt", "optimizer", optimizer),
                           ("num_epochs", "small", 2), ("print_freq", "small", 1),
                           ("x", "matrix", X), ("y", "vector", Y), ("val_x", "matrix", X),
                           ("val_y", "vector", Y)],
    "train_categorical_model": [("model", "categorical", categorical),
                                ("opt", "optimizer", optimizer), ("num_epochs", "small", 2),
                                ("print_freq", "small", 1), ("x", "matrix", X),
                                ("y", "labels", LABELS), ("val_x", "matrix", X),
                                ("val_y", "labels", LABELS)],
    "load_linear_model": [("save_best_params", "text", "missing.json")],
    "evaluate_linear_model": [("model", "linear", linear), ("val_x", "matrix", X),
                              ("val_y", "vector", Y)],
    "load_categorical_model": [("save_best_params", "text", "missing.json")],
    "evaluate_categorical_model": [("model", "categorical", categorical),
                                   ("val_x", "matrix", X), ("val_y", "labels", LABELS)],
}


class Index:
    def __index__(self):
        return 2


class FloatRaising:
    def __float__(self):
        raise ValueError("no float here")


class Text(str):
    pass


# Values of every kind a caller might pass, by name, each with the name that
# the interpreter's own messages give its type (the C-level type name).
VALUES = {
    "none": (None, "NoneType"),
    "str": ("dense", "str"),
    "str_subclass": (Text("dense"), "Text"),
    "numpy_str": (np.str_("dense"), "numpy.str_"),
    "lone_surrogate": ("dense\udc80", "str"),
    "bytes": (b"dense", "bytes"),
    "bytearray": (bytearray(b"dense"), "bytearray"),
    "path": (pathlib.Path("m.json"), "PosixPath"),
    "int": (2, "int"),
    "bool": (True, "bool"),
    "negative": (-1, "int"),
    "above_u16": (65536, "int"),
    "above_long": (2**63, "int"),
    "above_u64": (2**64, "int"),
    "above_double": (10**400, "int"),
    "numpy_int": (np.int64(2), "numpy.int64"),
    "index_object": (Index(), "Index"),
    "int_array_0d": (np.array(2), "numpy.ndarray"),
    "float": (2.5, "float"),
    "nan": (math.nan, "float"),
    "inf": (math.inf, "float"),
    "numpy_float": (np.float32(2.5), "numpy.float32"),
    "decimal": (decimal.Decimal("2.5"), "decimal.Decimal"),
    "fraction": (fractions.Fraction(5, 2), "Fraction"),
    "complex": (2j, "complex"),
    "float_raising": (FloatRaising(), "FloatRaising"),
    "object": (object(), "object"),
    "list": ([[1.0, 2.0]], "list"),
    "tuple": ((1.0, 2.0), "tuple"),
    "dict": ({"a": 1}, "dict"),
    "memoryview": (memoryview(X), "memoryview"),
    "float_array_1d": (np.zeros(2, np.float32), "numpy.ndarray"),
    "linear_model": (linear(), "builtins.LinearModel"),
    "categorical_model": (categorical(), "builtins.CategoricalModel"),
    "optimizer": (optimizer(), "builtins.DynamicOptimizer"),
    "model_class": (type(linear()), "type"),
}

ACCEPTED = "accepted"  # conversion succeeds; the operation may still fail on the value


def not_a(target):
    return (TypeError, "argument '{n}': '{q}' object cannot be converted to '" + target + "'")


NOT_AN_INTEGER = (TypeError, "argument '{n}': '{tp}' object cannot be interpreted as an integer")
OUT_OF_RANGE = (OverflowError, "out of range integral type conversion attempted")
# NumPy's own wording, which changes between its versions
NUMPY_INDEX_ERROR = (TypeError, "argument '{n}': *")
SURROGATE = (UnicodeEncodeError, "'utf-8' codec can't encode character '\\udc80' in position 5: "
             "surrogates not allowed")

# What each kind of parameter makes of each value. Values not named in a
# kind's table get the kind's default.
KINDS = {
    "text": (not_a("PyString"), {
        "str": ACCEPTED, "str_subclass": ACCEPTED, "numpy_str": ACCEPTED,
        "lone_surrogate": SURROGATE,
    }),
    "count": (NOT_AN_INTEGER, {
        "float_array_1d": NUMPY_INDEX_ERROR, "int": ACCEPTED, "bool": ACCEPTED, "numpy_int": ACCEPTED, "index_object": ACCEPTED,
        "int_array_0d": ACCEPTED, "above_u16": ACCEPTED, "above_long": ACCEPTED,
        "negative": (OverflowError, "can't convert negative int to unsigned"),
        "above_u64": (OverflowError, "int too big to convert"),
        "above_double": (OverflowError, "int too big to convert"),
    }),
    "small": (NOT_AN_INTEGER, {
        "float_array_1d": NUMPY_INDEX_ERROR, "int": ACCEPTED, "bool": ACCEPTED, "numpy_int": ACCEPTED, "index_object": ACCEPTED,
        "int_array_0d": ACCEPTED,
        "negative": OUT_OF_RANGE, "above_u16": OUT_OF_RANGE,
        "above_long": (OverflowError, "Python int too large to convert to C long"),
        "above_u64": (OverflowError, "Python int too large to convert to C long"),
        "above_double": (OverflowError, "Python int too large to convert to C long"),
    }),
    "real": ((TypeError, "argument '{n}': must be real number, not {tp}"), {
        "int": ACCEPTED, "bool": ACCEPTED, "negative": ACCEPTED, "above_u16": ACCEPTED,
        "above_long": ACCEPTED, "above_u64": ACCEPTED, "numpy_int": ACCEPTED,
        "index_object": ACCEPTED, "int_array_0d": ACCEPTED, "float": ACCEPTED, "nan": ACCEPTED,
        "inf": ACCEPTED, "numpy_float": ACCEPTED, "decimal": ACCEPTED, "fraction": ACCEPTED,
        "above_double": (OverflowError, "int too large to convert to float"),
        "float_raising": (ValueError, "no float here"),
        "float_array_1d": NUMPY_INDEX_ERROR,
    }),
    "linear": (not_a("LinearModel"), {"linear_model": ACCEPTED}),
    "categorical": (not_a("CategoricalModel"), {"categorical_model": ACCEPTED}),
    "optimizer": (not_a("DynamicOptimizer"), {"optimizer": ACCEPTED}),
    "matrix": (not_a("PyArray<T, D>"), {
        "int_array_0d": (TypeError, "argument '{n}': dimensionality mismatch:\n from=0, to=2"),
        "float_array_1d": (TypeError, "argument '{n}': dimensionality mismatch:\n from=1, to=2"),
    }),
    "vector": (not_a("PyArray<T, D>"), {
        "int_array_0d": (TypeError, "argument '{n}': dimensionality mismatch:\n from=0, to=1"),
        "float_array_1d": ACCEPTED,
    }),
    "labels": (not_a("PyArray<T, D>"), {
        "int_array_0d": (TypeError, "argument '{n}': dimensionality mismatch:\n from=0, to=1"),
        "float_array_1d": (TypeError, "argument '{n}': type mismatch:\n from=float32, to=int32"),
    }),
}


def expected_outcome(kind, value_name, param):
    optional = kind.endswith("?")
    kind = kind.rstrip("?")
    if optional and value_name == "none":
        return ACCEPTED
    default, table = KINDS[kind]
    outcome = table.get(value_name, default)
    if outcome is ACCEPTED:
        return ACCEPTED
    error, message = outcome
    value, type_name = VALUES[value_name]
    return error, message.format(n=param, q=type(value).__qualname__, tp=type_name)


def sweep_cases():
    for function, params in SIGNATURES.items():
        for position, (param, kind, _) in enumerate(params):
            for value_name in VALUES:
                yield pytest.param(function, position, value_name,
                                   id=f"{function}-{param}-{value_name}")


def valid_arguments(function):
    return {param: value() if callable(value) else value
            for param, _, value in SIGNATURES[function]}


def outcome_of(call):
    try:
        call()
    except BaseException as error:  # PanicException is no Exception
        return error
    return None


@pytest.mark.parametrize("function, position, value_name", list(sweep_cases()))
def test_every_wrong_kind_to_every_parameter(tmp_path, monkeypatch, capfd, function, position,
                                             value_name):
    monkeypatch.chdir(tmp_path)  # loads of texts that happen to be file names
    param, kind, _ = SIGNATURES[function][position]
    expected = expected_outcome(kind, value_name, param)
    args = valid_arguments(function)
    args[param] = VALUES[value_name][0]
    positional = list(args.values())
    for call in (lambda: getattr(brenik, function)(*positional),
                 lambda: getattr(brenik, function)(**args)):
        error = outcome_of(call)
        if expected is ACCEPTED:
            # Past the conversions; the operation itself may refuse the value.
            assert error is None or type(error).__name__ == "PanicException", repr(error)
        else:
            kind_of_error, message = expected
            assert type(error) is kind_of_error, repr(error)
            if message.endswith("*"):
                assert str(error).startswith(message[:-1])
            else:
                assert str(error) == message
    capfd.readouterr()


# --- arrays of every wrong dtype and rank -----------------------------------

WRONG_DTYPES = ["float64", "float16", "longdouble", "complex64", "int8", "int16", "int64",
                "uint32", "bool", "object", "U3", "S3", "V4", ">f4", ">i4", "datetime64[s]",
                "timedelta64[s]", [("a", "<f4")]]


def dtype_text(dtype):
    return str(np.dtype(dtype))


def array_cases():
    for function, params in SIGNATURES.items():
        for position, (param, kind, value) in enumerate(params):
            if kind not in ("matrix", "vector", "labels"):
                continue
            rank = 2 if kind == "matrix" else 1
            required = "int32" if kind == "labels" else "float32"
            for wrong_rank in (0, 1, 2, 3):
                if wrong_rank != rank:
                    shape = (2,) * wrong_rank
                    message = (f"argument '{param}': dimensionality mismatch:\n"
                               f" from={wrong_rank}, to={rank}")
                    # the rank is tested first, so a wrong dtype does not show
                    yield pytest.param(function, position, np.zeros(shape, "float64"), message,
                                       id=f"{function}-{param}-rank{wrong_rank}")
            for dtype in WRONG_DTYPES + (["float32"] if kind == "labels" else ["int32"]):
                if np.dtype(dtype) == np.dtype(required):
                    continue
                message = (f"argument '{param}': type mismatch:\n"
                           f" from={dtype_text(dtype)}, to={required}")
                yield pytest.param(function, position, np.zeros((2,) * rank, dtype), message,
                                   id=f"{function}-{param}-{dtype_text(dtype)}")


@pytest.mark.parametrize("function, position, array, message", list(array_cases()))
def test_arrays_of_wrong_rank_or_dtype(capfd, function, position, array, message):
    args = valid_arguments(function)
    args[SIGNATURES[function][position][0]] = array
    error = outcome_of(lambda: getattr(brenik, function)(**args))
    assert type(error) is TypeError, repr(error)
    assert str(error) == message
    assert capfd.readouterr() == ("", "")


# --- values of the right kind that cannot work ------------------------------------

def dense_model(n_inputs, n_neurons, kind="linear"):
    model = linear() if kind == "linear" else categorical()
    add = brenik.add_linear_model_layer if kind == "linear" else brenik.add_categorical_model_layer
    return add(model, n_inputs, n_neurons, "dense")


def train(model, x=X, y=None, val_x=NO_VALIDATION, val_y=None, opt=None, epochs=2):
    if type(model).__name__ == "LinearModel":
        call, y_default = brenik.train_linear_model, Y
    else:
        call, y_default = brenik.train_categorical_model, LABELS
    y = y_default if y is None else y
    val_y = y[:0] if val_y is None else val_y
    call(model, opt or optimizer(), epochs, 1, x, y, val_x, val_y)


def with_layers(*layers, kind="linear"):
    model = linear() if kind == "linear" else categorical()
    add = brenik.add_linear_model_layer if kind == "linear" else brenik.add_categorical_model_layer
    for layer in layers:
        model = add(model, **layer)
    return model


OUT_OF_MEMORY = "memory allocation failed: out of memory"

BEYOND_REACH = [
    # sizes that do not fit
    ("dense_million_by_million", lambda: train(dense_model(10**6, 10**6)), OUT_OF_MEMORY),
    ("dense_categorical_million_by_million",
     lambda: train(dense_model(10**6, 10**6, "categorical")), OUT_OF_MEMORY),
    ("dense_2_62_by_4", lambda: train(dense_model(2**62, 4)),
     "capacity overflow: 4611686018427387904 x 4 elements do not fit in memory"),
    ("dense_u64_max_inputs", lambda: train(dense_model(2**64 - 1, 1)),
     "capacity overflow: 18446744073709551615 x 1 elements do not fit in memory"),
    ("dense_2_40_by_2_20", lambda: train(dense_model(2**40, 2**20)), OUT_OF_MEMORY),
    ("dense_no_inputs_2_62_neurons", lambda: train(dense_model(0, 2**62), x=X[:, :0]),
     OUT_OF_MEMORY),
    ("output_beyond_memory", lambda: train(dense_model(1, 10**6),
                                           x=np.broadcast_to(f32(1), (10**6, 1)),
                                           y=np.broadcast_to(f32(1), (10**6,))), OUT_OF_MEMORY),
    ("broadcast_inputs_beyond_memory",
     lambda: brenik.evaluate_linear_model(linear(), np.broadcast_to(f32(1), (10**6, 10**6)),
                                          np.broadcast_to(f32(1), (10**6,))), OUT_OF_MEMORY),
    ("broadcast_targets_beyond_memory",
     lambda: train(linear(), x=np.broadcast_to(f32(1), (2**40, 1)),
                   y=np.broadcast_to(f32(1), (2**40,))), OUT_OF_MEMORY),
    # dropout rates outside 0 to 1, and not numbers
    ("dropout_rate_nan", lambda: train(with_layers(
        dict(layer_type="dropout", dropout_rate=math.nan))), "ProbabilityTooSmall"),
    ("dropout_rate_above_one", lambda: train(with_layers(
        dict(layer_type="dropout", dropout_rate=2.0))), "ProbabilityTooSmall"),
    ("dropout_rate_inf", lambda: train(with_layers(
        dict(layer_type="dropout", dropout_rate=math.inf))), "ProbabilityTooSmall"),
    ("dropout_rate_negative", lambda: train(with_layers(
        dict(layer_type="dropout", dropout_rate=-0.5))), "ProbabilityTooLarge"),
    ("dropout_rate_minus_inf", lambda: train(with_layers(
        dict(layer_type="dropout", dropout_rate=-math.inf))), "ProbabilityTooLarge"),
    # counts that do not match the data
    ("n_inputs_above_columns", lambda: train(dense_model(3, 1)),
     "shape mismatch in matrix product: 3 x 2 times 3 x 1"),
    ("n_inputs_below_columns", lambda: train(dense_model(1, 1)),
     "shape mismatch in matrix product: 3 x 2 times 1 x 1"),
    ("zero_column_inputs", lambda: train(dense_model(2, 1), x=X[:, :0]),
     "shape mismatch in matrix product: 3 x 0 times 2 x 1"),
    ("zero_neurons_linear", lambda: train(dense_model(2, 0)),
     "a linear model needs at least one output column, but the output is 3 x 0"),
    ("zero_column_inputs_without_layers", lambda: train(linear(), x=X[:, :0]),
     "a linear model needs at least one output column, but the output is 3 x 0"),
    ("softmax_of_zero_columns", lambda: train(categorical(), x=X[:, :0]), "softmax"),
    # odd selector texts: an inert layer passes nothing on
    ("layer_type_capitalised", lambda: train(with_layers(
        dict(n_inputs=2, n_neurons=1, layer_type="Dense"))), "mean squared error"),
    ("layer_type_with_blank", lambda: train(with_layers(
        dict(n_inputs=2, n_neurons=1, layer_type="dense "), dict(n_inputs=1, n_neurons=1,
                                                                 layer_type="dense"))),
     "shape mismatch in matrix product: 0 x 0 times 1 x 1"),
    ("layer_type_with_nul", lambda: train(with_layers(
        dict(n_inputs=2, n_neurons=1, layer_type="dense\x00"))), "mean squared error"),
    ("output_type_capitalised", lambda: train(brenik.add_linear_model_layer(
        brenik.create_linear_model("Linear", ""), 2, 1, "dense")), "mean squared error"),
    ("inert_layer_categorical", lambda: train(with_layers(
        dict(n_inputs=2, n_neurons=2, layer_type="DENSE"), kind="categorical")),
     "index out of bounds"),
    # class indices outside the output
    ("label_beyond_classes", lambda: train(dense_model(2, 2, "categorical"), y=i32([0, 2, 1])),
     "index out of bounds"),
    ("label_most_negative", lambda: train(dense_model(2, 2, "categorical"),
                                          y=i32([0, -2**31, 1])), "index out of bounds"),
    ("label_beyond_classes_in_evaluation",
     lambda: brenik.evaluate_categorical_model(categorical(), X, i32([0, 1, 2**31 - 1])),
     "class index 2147483647 of sample 2 is out of range for 2 output columns"),
    ("label_negative_in_evaluation",
     lambda: brenik.evaluate_categorical_model(categorical(), X, i32([-1, 1, 0])),
     "class index -1 of sample 0 is out of range for 2 output columns"),
    # mismatched sample counts with validation data
    ("val_targets_short", lambda: train(linear(), val_x=X, val_y=Y[:2]),
     "sample count mismatch: val_x has 3 rows but val_y has 2 entries"),
    ("val_targets_without_rows", lambda: train(linear(), val_x=X[:0], val_y=Y),
     "sample count mismatch: val_x has 0 rows but val_y has 3 entries"),
]


@pytest.mark.parametrize("name, call, message", BEYOND_REACH, ids=[c[0] for c in BEYOND_REACH])
def test_values_that_cannot_work_are_panics(capfd, name, call, message):
    error = outcome_of(call)
    assert type(error).__name__ == "PanicException", repr(error)
    assert message in str(error)
    capfd.readouterr()


# Values that look wrong but are within what the functions promise.
WITHIN_REACH = [
    ("nan_learning_rate", lambda: train(dense_model(2, 1), opt=brenik.create_optimizer(
        "adam", math.nan, 0.0), epochs=3), "lr NaN"),
    ("infinite_learning_rate", lambda: train(dense_model(2, 1), opt=brenik.create_optimizer(
        "sgd", math.inf, 0.0), epochs=3), "lr inf"),
    ("negative_decay", lambda: train(dense_model(2, 1), opt=brenik.create_optimizer(
        "sgd", 0.1, -1.0), epochs=3), "lr inf"),  # 0.1 / (1 + -1 * 1) at epoch 3
    ("unknown_optimizer", lambda: train(dense_model(2, 1), opt=brenik.create_optimizer(
        "ADAM", 0.1, 0.0)), "lr 0.1"),
    ("unknown_activation", lambda: train(with_layers(
        dict(n_inputs=2, n_neurons=1, layer_type="dense", activation_type="ReLU"))), "epoch:"),
    ("categorical_unknown_output", lambda: train(brenik.add_categorical_model_layer(
        brenik.create_categorical_model("Softmax", ""), 2, 2, "dense")), "acc: NaN"),
    ("nan_inputs", lambda: train(dense_model(2, 1), x=np.full((3, 2), np.nan, np.float32)),
     "loss: NaN"),
    ("infinite_targets", lambda: train(dense_model(2, 1), y=f32([np.inf, 0, 0])), "loss: NaN"),
    ("zero_epochs", lambda: train(dense_model(3, 1), epochs=0), ""),
    ("empty_validation", lambda: train(linear(), val_x=np.zeros((0, 0), np.float32),
                                       val_y=Y), "epoch:"),
    ("zero_rows_categorical", lambda: train(categorical(), x=X[:0], y=LABELS[:0]), "loss: NaN"),
    ("zero_rows_evaluation", lambda: brenik.evaluate_linear_model(linear(), X[:0], Y[:0]),
     "Validation MSE: NaN"),
    ("zero_by_zero_evaluation",
     lambda: brenik.evaluate_categorical_model(categorical(), np.zeros((0, 0), np.float32),
                                               LABELS[:0]), "Validation accuracy NaN%"),
    ("broadcast_inputs", lambda: brenik.evaluate_linear_model(
        linear(), np.broadcast_to(f32(1), (3, 2)), np.broadcast_to(f32(1), (3,))),
     "Validation MSE: 0.000, Accuracy 100.0%"),
]


@pytest.mark.parametrize("name, call, printed", WITHIN_REACH, ids=[c[0] for c in WITHIN_REACH])
def test_odd_values_within_the_promise_run(capfd, name, call, printed):
    assert outcome_of(call) is None
    assert printed in capfd.readouterr().out


# --- paths -------------------------------------------------------------------------

def train_into(path):
    model = brenik.create_linear_model("linear", str(path))
    model = brenik.add_linear_model_layer(model, 2, 1, "dense")
    x = np.random.default_rng(0).uniform(-1, 1, (16, 2)).astype(np.float32)
    brenik.train_linear_model(model, brenik.create_optimizer("adam", 0.05, 0.0), 5, 1000,
                              x, x[:, 0] + x[:, 1], NO_VALIDATION, f32([]))


def paths(tmp_path):
    (tmp_path / "empty.json").write_text("")
    (tmp_path / "file").write_text("x")
    (tmp_path / "blank.json").write_text(" \n\t")
    return {
        "directory": str(tmp_path),
        "missing": str(tmp_path / "missing.json"),
        "empty_text": "",
        "empty_file": str(tmp_path / "empty.json"),
        "blank_file": str(tmp_path / "blank.json"),
        "nul_byte": str(tmp_path / "m\x00.json"),
        "below_a_file": str(tmp_path / "file" / "m.json"),
        "name_too_long": str(tmp_path / ("m" * 300)),
        "missing_directory": str(tmp_path / "missing" / "m.json"),
        "endless_stream": "/dev/zero",
    }


LOAD_FAILURES = {
    "directory": "Is a directory (os error 21)",
    "missing": "No such file or directory (os error 2)",
    "empty_text": "No such file or directory (os error 2)",
    "empty_file": "EOF while parsing a value at line 1 column 1",
    "blank_file": "EOF while parsing a value at line 2 column 2",
    "nul_byte": "file name contained an unexpected NUL byte",
    "below_a_file": "Not a directory (os error 20)",
    "name_too_long": "File name too long (os error 36)",
    "missing_directory": "No such file or directory (os error 2)",
    "endless_stream": "expected value at line 1 column 1",  # read no further than that
}


@pytest.mark.parametrize("name", LOAD_FAILURES)
@pytest.mark.parametrize("load", [brenik.load_linear_model, brenik.load_categorical_model])
def test_loading_from_paths_that_cannot_be_read(tmp_path, load, name):
    error = outcome_of(lambda: load(paths(tmp_path)[name]))
    assert type(error).__name__ == "PanicException", repr(error)
    assert LOAD_FAILURES[name] in str(error)


def test_model_text_through_a_pipe_loads(tmp_path, capfd):
    # A stream is read to its end when it can hold a model text: here one of
    # some 200 kB after leading whitespace, more than a pipe buffers at once,
    # from another process as a shell's <(cat file) would give it.
    weights = np.arange(10000, dtype=np.float32).reshape(100, 100) / 7
    layer = dense_layer(weights, np.zeros(100))
    path = tmp_path / "m.json"
    path.write_text("  \n\t" + json.dumps({
        "layers": [layer], "output_type": "softmax", "loss_type": "categorical_crossentropy",
        "acc_type": "categorical", "save_best_params": ""}))
    with subprocess.Popen(["cat", str(path)], stdout=subprocess.PIPE) as writer:
        model = brenik.load_categorical_model(f"/dev/fd/{writer.stdout.fileno()}")
    brenik.evaluate_categorical_model(model, np.eye(1, 100, 99, dtype=np.float32), i32([99]))
    assert capfd.readouterr().out.startswith("True: 99, Predicted: 99, ")


SAVE_FAILURES = {
    "directory": "Is a directory (os error 21)",
    "nul_byte": "file name contained an unexpected NUL byte",
    "below_a_file": "Not a directory (os error 20)",
    "name_too_long": "File name too long (os error 36)",
    "missing_directory": "No such file or directory (os error 2)",
}


@pytest.mark.parametrize("name", SAVE_FAILURES)
def test_training_into_paths_that_cannot_be_written(tmp_path, capfd, name):
    error = outcome_of(lambda: train_into(paths(tmp_path)[name]))
    assert type(error).__name__ == "PanicException", repr(error)
    assert SAVE_FAILURES[name] in str(error)
    capfd.readouterr()


def test_training_into_a_full_device_warns_and_goes_on(capfd):
    if not os.path.exists("/dev/full"):
        pytest.skip("no /dev/full")
    assert outcome_of(lambda: train_into("/dev/full")) is None
    warnings = capfd.readouterr().err.splitlines()
    assert warnings and all(line == "brenik: warning: could not write model file /dev/full: "
                            "No space left on device (os error 28)" for line in warnings)


PERMISSIONS_SCRIPT = """
import os, sys
import numpy as np, brenik
base = sys.argv[1]
x = np.random.default_rng(0).uniform(-1, 1, (16, 2)).astype(np.float32)
if os.geteuid() == 0:  # root writes anywhere: act as an ordinary user from here on
    os.setegid(65534)
    os.seteuid(65534)
def train(path):
    model = brenik.create_linear_model("linear", path)
    model = brenik.add_linear_model_layer(model, 2, 1, "dense")
    brenik.train_linear_model(model, brenik.create_optimizer("adam", 0.05, 0.0), 5, 1000,
                              x, x[:, 0] + x[:, 1], np.zeros((0, 0), np.float32), x[:0, 0])
for name, call in [
        ("save_in_read_only_directory", lambda: train(base + "/read_only_dir/m.json")),
        ("save_over_read_only_file", lambda: train(base + "/read_only.json")),
        ("load_unreadable_file", lambda: brenik.load_linear_model(base + "/unreadable.json")),
        ("load_below_unsearchable_directory",
         lambda: brenik.load_linear_model(base + "/closed_dir/m.json"))]:
    try:
        call()
        print(name, "returned")
    except BaseException as e:
        print(name, type(e).__name__, e)
"""


def test_paths_without_permission(tmp_path_factory):
    # A directory that an unprivileged child can enter.
    base = tmp_path_factory.mktemp("permissions")
    os.chmod(base.parent, 0o755)
    os.chmod(base, 0o755)
    (base / "read_only_dir").mkdir(mode=0o555)
    (base / "read_only.json").write_text("previous")
    os.chmod(base / "read_only.json", 0o444)
    (base / "unreadable.json").write_text("{}")
    os.chmod(base / "unreadable.json", 0o000)
    (base / "closed_dir").mkdir(mode=0o000)
    child = python_child(PERMISSIONS_SCRIPT)
    child["args"].append(str(base))
    try:
        result = subprocess.run(**child, timeout=60)
    finally:
        os.chmod(base / "closed_dir", 0o755)
    if result.returncode != 0 and "Operation not permitted" in result.stderr:
        pytest.skip("cannot drop privileges here")
    assert result.returncode == 0, result.stderr
    denied = "Permission denied (os error 13)"
    lines = result.stdout.splitlines()
    assert [line.split(" ", 2)[:2] for line in lines] == [
        [name, "PanicException"] for name in ("save_in_read_only_directory",
                                              "save_over_read_only_file", "load_unreadable_file",
                                              "load_below_unsearchable_directory")]
    assert all(line.endswith(denied) for line in lines), lines
    assert (base / "read_only.json").read_text() == "previous"
    assert os.listdir(base / "read_only_dir") == []
