"""Random argument lists, positional and keyword, of random kinds to every
function: each call returns or raises one of the documented exceptions, and
never brings the interpreter down."""

import inspect
import math

import numpy as np
from hypothesis import HealthCheck, event, given, settings
from hypothesis import strategies as st
from hypothesis.extra import numpy as hnp

import brenik

FUNCTIONS = [getattr(brenik, name) for name in brenik.__all__]

LINEAR_MODELS = [
    brenik.create_linear_model("linear", ""),
    brenik.add_linear_model_layer(brenik.add_linear_model_layer(
        brenik.create_linear_model("linear", ""), 2, 3, "dense", "relu"), 3, 1, "dense"),
    brenik.add_linear_model_layer(brenik.create_linear_model("relu", ""), 0, 0, "dropout",
                                  None, 0.5),
]
CATEGORICAL_MODELS = [
    brenik.create_categorical_model("softmax", ""),
    brenik.add_categorical_model_layer(brenik.create_categorical_model("softmax", ""), 2, 3,
                                       "dense"),
    brenik.add_categorical_model_layer(brenik.create_categorical_model("linear", ""),
                                       dropout_rate=-1.0, layer_type="dropout"),
]
OPTIMIZERS = [
    brenik.create_optimizer("adam", 0.01, 0.0),
    brenik.create_optimizer("tf_adam", 0.01, 0.1),
    brenik.create_optimizer("sgd", math.nan, -1.0),
]
RECORD_TYPES = {type(r) for r in LINEAR_MODELS + CATEGORICAL_MODELS + OPTIMIZERS}

# Counts stay small mostly: a count becomes a number of epochs.
INTEGERS = st.integers(-3, 3) | st.sampled_from([65536, -65536, 2**31, 2**63, 2**64, -2**64,
                                                  10**30, 2**64 - 1])
TEXTS = st.sampled_from(["linear", "softmax", "dense", "dropout", "relu", "adam", "tf_adam",
                         "sgd", "", "\udc80", "a\x00b"]) | st.text(max_size=8)
SHAPES_2D = st.tuples(st.integers(0, 4), st.integers(0, 3))
FLOAT32_MATRICES = hnp.arrays(np.float32, SHAPES_2D, elements=st.floats(width=32))
FLOAT32_VECTORS = hnp.arrays(np.float32, st.integers(0, 4), elements=st.floats(width=32))
LABEL_VECTORS = hnp.arrays(np.int32, st.integers(0, 4), elements=st.integers(-1, 3))

DTYPES = [np.float32, np.int32, np.float64, np.int64, np.uint8, np.bool_, np.float16,
          np.complex64, np.dtype(">f4"), np.dtype("U2"), np.dtype("datetime64[s]")]
ANY_ARRAYS = st.sampled_from(DTYPES).flatmap(lambda dtype: hnp.arrays(
    dtype, hnp.array_shapes(min_dims=0, max_dims=3, min_side=0, max_side=3)))

ANY_VALUE = st.one_of(
    st.none(), st.booleans(), INTEGERS, st.floats(), TEXTS, st.binary(max_size=8),
    st.lists(st.floats(), max_size=3), st.sampled_from(LINEAR_MODELS + CATEGORICAL_MODELS +
                                                       OPTIMIZERS),
    ANY_ARRAYS, ANY_ARRAYS.map(lambda a: a.T), FLOAT32_MATRICES.map(lambda a: a[::-1, ::2]),
    st.just(object()), st.just(type(OPTIMIZERS[0])),
)

# Values of the kind each parameter takes, so that many calls get past the
# conversions into the operations.
RIGHT_KIND = {
    "output_type": TEXTS, "save_best_params": TEXTS, "opt_type": TEXTS, "layer_type": TEXTS,
    "activation_type": TEXTS, "n_inputs": INTEGERS, "n_neurons": INTEGERS,
    "num_epochs": INTEGERS, "print_freq": INTEGERS, "learning_rate": st.floats() | INTEGERS,
    "decay": st.floats() | INTEGERS, "dropout_rate": st.floats() | st.none(),
    "opt": st.sampled_from(OPTIMIZERS), "x": FLOAT32_MATRICES, "val_x": FLOAT32_MATRICES,
}


def right_kind(function, param):
    categorical = "categorical" in function.__name__
    if param == "model":
        return st.sampled_from(CATEGORICAL_MODELS if categorical else LINEAR_MODELS)
    if param in ("y", "val_y"):
        return LABEL_VECTORS if categorical else FLOAT32_VECTORS
    return RIGHT_KIND[param]


@st.composite
def calls(draw):
    function = draw(st.sampled_from(FUNCTIONS))
    params = list(inspect.signature(function).parameters)
    # Nine in ten arguments of the right kind, the rest anything.
    values = [draw(right_kind(function, p) if draw(st.integers(0, 9)) else ANY_VALUE)
              for p in params]
    n_positional = draw(st.integers(0, len(params)))
    args = values[:n_positional]
    kwargs = dict(zip(params[n_positional:], values[n_positional:]))
    binding = draw(st.sampled_from(["as_is"] * 6 + ["extra", "unknown", "twice", "missing"]))
    if binding == "extra":
        args.append(draw(ANY_VALUE))
    elif binding == "unknown":
        kwargs[draw(st.sampled_from(["bogus", "self", "X", "model_"]))] = draw(ANY_VALUE)
    elif binding == "twice" and n_positional > 0:
        kwargs[params[draw(st.integers(0, n_positional - 1))]] = draw(ANY_VALUE)
    elif binding == "missing" and params:
        victim = params[draw(st.integers(0, len(params) - 1))]
        kwargs.pop(victim, None)
        if victim in params[:len(args)]:
            args = args[:params.index(victim)]
    return function, args, kwargs


# What a call may raise besides PanicException; anything else (or a crash) is a fault.
EXPECTED = (TypeError, OverflowError, ValueError, UnicodeEncodeError)


@settings(max_examples=600, deadline=None, database=None,
          suppress_health_check=[HealthCheck.function_scoped_fixture, HealthCheck.too_slow])
@given(call=calls())
def test_random_arguments_never_crash(tmp_path, monkeypatch, capfd, call):
    monkeypatch.chdir(tmp_path)  # random texts are loaded as paths
    function, args, kwargs = call
    try:
        result = function(*args, **kwargs)
    except EXPECTED as error:
        event(type(error).__name__)
    except BaseException as error:
        assert type(error).__name__ == "PanicException", repr(error)
        event("PanicException")
    else:
        assert result is None or type(result) in RECORD_TYPES
        event("returned")
    capfd.readouterr()
