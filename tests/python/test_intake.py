"""NumPy array intake: the three tests in order with their messages, and that
every memory layout gives the values the caller sees."""

import os
import re
import subprocess
import sys

import numpy as np
import pytest

import brenik
from model_files import categorical, linear, optimizer

# Rows have distinct maxima, so the arg-max of a row shows which columns were read.
MATRIX = np.array([[5, 1, 2], [0, 9, 3], [1, 2, 8], [7, 6, 0]], np.float32)
TARGETS = np.array([1.5, 0, 2, 7.25], np.float32)
LABELS = np.array([2, 1, 0, 2], np.int32)
X = np.zeros((2, 3), np.float32)
Y = np.zeros(2, np.float32)


class Subclass(np.ndarray):
    pass


def odd_strides(a, extra):
    """The same values at byte strides that are not whole elements."""
    raw = np.zeros(a.size * (a.itemsize + extra) + a.itemsize + 1, np.uint8)
    if a.ndim == 1:
        strides = (a.itemsize + extra,)
    else:
        strides = (a.shape[1] * a.itemsize + extra, a.itemsize)
    view = np.ndarray(a.shape, a.dtype, raw, offset=1, strides=strides)
    view[...] = a
    return view


def read_only(a):
    a = a.copy()
    a.flags.writeable = False
    return a


LAYOUTS = {
    "row_major": lambda a: a,
    "column_major": np.asfortranarray,
    "transposed": lambda a: np.ascontiguousarray(a.T).T,
    "every_second_row": lambda a: np.repeat(a, 2, axis=0)[::2],
    "every_second_column": lambda a: np.repeat(a, 2, axis=-1)[..., ::2],
    "reversed": lambda a: np.flip(np.flip(a).copy()),
    "read_only": read_only,
    "unaligned": lambda a: odd_strides(a, 0),
    "odd_byte_strides": lambda a: odd_strides(a, 1),
    "subclass": lambda a: a.view(Subclass),
}
layouts = pytest.mark.parametrize("layout", LAYOUTS.values(), ids=LAYOUTS.keys())


def printed_pairs(capfd, pattern):
    lines = capfd.readouterr().out.splitlines()
    return [tuple(map(float, re.match(pattern, line).groups())) for line in lines[:-1]]


@layouts
def test_linear_evaluation_reads_the_values_the_caller_sees(capfd, layout):
    x, y = layout(MATRIX), layout(TARGETS)
    np.testing.assert_array_equal(x, MATRIX)
    brenik.evaluate_linear_model(linear(), x, y)
    # A model without layers predicts the first column.
    assert printed_pairs(capfd, r"True: (\S+), Predicted: (\S+), Error") == \
        list(zip(TARGETS, MATRIX[:, 0]))


@layouts
def test_categorical_evaluation_reads_the_values_the_caller_sees(capfd, layout):
    x, labels = layout(MATRIX), layout(LABELS)
    brenik.evaluate_categorical_model(categorical(), x, labels)
    assert printed_pairs(capfd, r"True: (-?\d+), Predicted: (-?\d+), Certainty") == \
        list(zip(LABELS, MATRIX.argmax(axis=1)))


@layouts
def test_training_accepts_every_layout_and_leaves_the_arrays_alone(layout):
    arrays = [layout(MATRIX), layout(LABELS), layout(MATRIX), layout(LABELS)]
    before = [a.copy() for a in arrays]
    brenik.train_categorical_model(categorical(), optimizer(), 2, 1, *arrays)
    for array, copy in zip(arrays, before):
        np.testing.assert_array_equal(array, copy)


def test_zero_row_arrays_pass_the_intake(capfd):
    brenik.evaluate_linear_model(linear(), np.zeros((0, 3), np.float32), np.zeros(0, np.float32))
    brenik.evaluate_categorical_model(categorical(), np.zeros((0, 3), np.float32),
                                      np.zeros(0, np.int32))
    assert capfd.readouterr().out == \
        "Validation MSE: NaN, Accuracy NaN%\nValidation accuracy NaN%\n"


@pytest.mark.parametrize("dtype", ["<f4", "=f4", np.float32, np.dtype("f4", metadata={"k": 1})],
                         ids=repr)
def test_equivalent_float_dtypes_are_accepted(capfd, dtype):
    brenik.evaluate_linear_model(linear(), MATRIX.astype(dtype), TARGETS.astype(dtype))
    assert capfd.readouterr().out.endswith("Validation MSE: 1.188, Accuracy 75.0%\n")


@pytest.mark.parametrize("dtype", ["<i4", "=i4", np.intc, np.int32], ids=repr)
def test_equivalent_int_dtypes_are_accepted(capfd, dtype):
    brenik.evaluate_categorical_model(categorical(), MATRIX, LABELS.astype(dtype))
    assert capfd.readouterr().out.endswith("Validation accuracy 25.0%\n")


def train_linear(**arrays):
    args = dict(x=X, y=Y, val_x=X, val_y=Y)
    args.update(arrays)
    brenik.train_linear_model(linear(), optimizer(), 1, 1, **args)


def train_categorical(**arrays):
    labels = np.zeros(2, np.int32)
    args = dict(x=X, y=labels, val_x=X, val_y=labels)
    args.update(arrays)
    brenik.train_categorical_model(categorical(), optimizer(), 1, 1, **args)


REFUSED = [
    # not a NumPy array
    (lambda: brenik.evaluate_linear_model(linear(), [[1.0]], Y),
     "argument 'val_x': 'list' object cannot be converted to 'PyArray<T, D>'"),
    (lambda: train_linear(y=memoryview(Y)),
     "argument 'y': 'memoryview' object cannot be converted to 'PyArray<T, D>'"),
    (lambda: train_linear(val_y=np.float32(1)),
     "argument 'val_y': 'float32' object cannot be converted to 'PyArray<T, D>'"),
    (lambda: train_categorical(x=None),
     "argument 'x': 'NoneType' object cannot be converted to 'PyArray<T, D>'"),
    # rank
    (lambda: train_categorical(y=np.eye(2, dtype=np.float32)),
     "argument 'y': dimensionality mismatch:\n from=2, to=1"),
    (lambda: train_linear(y=Y.reshape(2, 1)),
     "argument 'y': dimensionality mismatch:\n from=2, to=1"),
    (lambda: train_linear(x=Y), "argument 'x': dimensionality mismatch:\n from=1, to=2"),
    (lambda: train_linear(x=np.zeros((1, 2, 3), np.float32)),
     "argument 'x': dimensionality mismatch:\n from=3, to=2"),
    (lambda: train_linear(val_y=np.zeros((), np.float32)),
     "argument 'val_y': dimensionality mismatch:\n from=0, to=1"),
    # the rank is tested before the element type
    (lambda: train_linear(y=np.zeros((2, 1))),
     "argument 'y': dimensionality mismatch:\n from=2, to=1"),
    (lambda: brenik.evaluate_linear_model(linear(), np.zeros(2, "datetime64[s]"), Y),
     "argument 'val_x': dimensionality mismatch:\n from=1, to=2"),
    # element type
    (lambda: train_linear(x=X.astype(np.float64)),
     "argument 'x': type mismatch:\n from=float64, to=float32"),
    (lambda: train_categorical(y=np.zeros(2, np.int64)),
     "argument 'y': type mismatch:\n from=int64, to=int32"),
    (lambda: train_categorical(val_y=np.zeros(2, np.uint32)),
     "argument 'val_y': type mismatch:\n from=uint32, to=int32"),
    (lambda: train_categorical(y=np.zeros(2, np.float32)),
     "argument 'y': type mismatch:\n from=float32, to=int32"),
    (lambda: train_linear(val_y=np.zeros(2, np.int32)),
     "argument 'val_y': type mismatch:\n from=int32, to=float32"),
    (lambda: train_linear(val_x=X.astype(np.float16)),
     "argument 'val_x': type mismatch:\n from=float16, to=float32"),
    (lambda: train_linear(y=Y.astype(">f4")),
     "argument 'y': type mismatch:\n from=>f4, to=float32"),
    (lambda: train_categorical(y=np.zeros(2, ">i4")),
     "argument 'y': type mismatch:\n from=>i4, to=int32"),
    (lambda: brenik.evaluate_linear_model(linear(), np.zeros((2, 3), "datetime64[s]"), Y),
     "argument 'val_x': type mismatch:\n from=datetime64[s], to=float32"),
    (lambda: train_linear(y=np.zeros(2, [("a", "<f4")])),
     "argument 'y': type mismatch:\n from=[('a', '<f4')], to=float32"),
    # arguments are tested in parameter order
    (lambda: train_linear(x=[], y=[]), "argument 'x': 'list' object cannot be converted to "
     "'PyArray<T, D>'"),
    (lambda: train_linear(val_x=X.astype(np.float64), val_y=[]),
     "argument 'val_x': type mismatch:\n from=float64, to=float32"),
]


@pytest.mark.parametrize("call, message", REFUSED)
def test_refused_arrays(capfd, call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    assert str(info.value) == message
    # Nothing ran: no line printed.
    assert capfd.readouterr() == ("", "")


def run_python(code, *options):
    env = dict(os.environ, PYTHONPATH=os.path.dirname(brenik.__file__))
    return subprocess.run([sys.executable, *options, "-c", code], env=env, capture_output=True,
                          text=True, timeout=60)


def test_numpy_that_cannot_be_imported_is_an_internal_failure():
    result = run_python(
        "import sys; sys.modules['numpy'] = None\n"
        "import brenik\n"
        "model = brenik.create_linear_model('linear', '')\n"
        "try:\n"
        "    brenik.evaluate_linear_model(model, [], [])\n"
        "except BaseException as e:\n"
        "    print(type(e).__name__, isinstance(e, Exception), e)\n")
    assert result.returncode == 0, result.stderr
    prefix = "Failed to access NumPy array API capsule"
    assert result.stdout.startswith(f"PanicException False {prefix}")
    assert result.stderr.startswith(f"brenik: panicked: {prefix}")


def test_intake_raises_no_numpy_warning():
    result = run_python(
        "import brenik, numpy as np\n"
        "brenik.evaluate_linear_model(brenik.create_linear_model('linear', ''),\n"
        "                             np.zeros((1, 1), np.float32), np.zeros(1, np.float32))\n",
        "-W", "error")
    assert result.returncode == 0, result.stderr
    assert result.stderr == ""
