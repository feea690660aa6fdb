"""Helpers for the training and evaluation tests: hand-written model files,
the printed number forms computed independently, and running a script in a
child interpreter."""

import json
import math
import os
import subprocess
import sys

import numpy as np
import pytest

import brenik

NO_VALIDATION = np.zeros((0, 0), np.float32)


def f32(values):
    return np.array(values, dtype=np.float32)


def i32(values):
    return np.array(values, dtype=np.int32)


def fixed(value, places):
    """The printed three- or one-decimal form of a float32 value."""
    v = float(np.float32(value))
    if math.isnan(v):
        return "NaN"
    if math.isinf(v):
        return "inf" if v > 0 else "-inf"
    return f"{v:.{places}f}"


def shortest(value):
    """The printed learning-rate form: shortest float32 digits, positional."""
    return np.format_float_positional(np.float32(value), unique=True, trim="-")


def linear():
    """An empty regression model that writes no file."""
    return brenik.create_linear_model("linear", "")


def categorical():
    """An empty classification model that writes no file."""
    return brenik.create_categorical_model("softmax", "")


def optimizer():
    return brenik.create_optimizer("sgd", 0.1, 0.0)


def expect_panic(fn, *args):
    """Runs fn(*args), which must raise PanicException; returns its message."""
    with pytest.raises(BaseException) as info:
        fn(*args)
    assert type(info.value).__name__ == "PanicException", repr(info.value)
    assert not isinstance(info.value, Exception)
    return str(info.value)


def array_object(values, dims):
    data = np.asarray(values, dtype=np.float64).ravel().tolist()
    return {"v": 1, "dim": list(dims), "data": data}


def empty_matrix():
    return array_object([], [0, 0])


def empty_vector():
    return array_object([], [0])


def dense_layer(weights, biases, activation_type=""):
    w = np.asarray(weights, dtype=np.float64)
    return {
        "layer_type": "dense",
        "activation_type": activation_type,
        "n_inputs": w.shape[0],
        "n_neurons": w.shape[1],
        "weights": array_object(w, w.shape),
        "biases": array_object(biases, [len(biases)]),
        "weight_regularizer_l1": 0.0,
        "weight_regularizer_l2": 0.0,
        "bias_regularizer_l1": 0.0,
        "bias_regularizer_l2": 0.0,
        "inputs": empty_matrix(),
        "activation_inputs": empty_matrix(),
        "dweights": empty_matrix(),
        "dbiases": empty_vector(),
        "weight_momentums": empty_matrix(),
        "weight_cache": empty_matrix(),
        "bias_momentums": empty_vector(),
        "bias_cache": empty_vector(),
        "dropout_rate": 0.0,
        "binary_mask": empty_matrix(),
    }


def write_linear_model(path, layers, output_type="linear", acc_precision=1.0,
                       loss_type="mean_squared_error", acc_type="linear", save_best_params=""):
    record = {
        "layers": layers,
        "output_type": output_type,
        "loss_type": loss_type,
        "acc_type": acc_type,
        "acc_precision": acc_precision,
        "save_best_params": save_best_params,
    }
    path.write_text(json.dumps(record))
    return brenik.load_linear_model(str(path))


def write_categorical_model(path, layers, output_type="softmax",
                            loss_type="categorical_crossentropy", acc_type="categorical",
                            save_best_params=""):
    record = {
        "layers": layers,
        "output_type": output_type,
        "loss_type": loss_type,
        "acc_type": acc_type,
        "save_best_params": save_best_params,
    }
    path.write_text(json.dumps(record))
    return brenik.load_categorical_model(str(path))


def read_model_file(path):
    return json.loads(path.read_text())


def as_array(obj):
    """An array object of a model file as a float32 NumPy array."""
    return np.array(obj["data"], dtype=np.float32).reshape(obj["dim"])


def python_child(code, unbuffered=True):
    """Arguments for subprocess: `code` in a child interpreter that imports the
    same brenik module."""
    env = dict(os.environ)
    module_dir = os.path.dirname(os.path.abspath(brenik.__file__))
    env["PYTHONPATH"] = os.pathsep.join([module_dir, env.get("PYTHONPATH", "")])
    if not unbuffered:
        env.pop("PYTHONUNBUFFERED", None)
    return {"args": [sys.executable, "-c", code], "env": env, "text": True,
            "stdout": subprocess.PIPE, "stderr": subprocess.PIPE}


def run_python(code, unbuffered=True, timeout=60):
    return subprocess.run(**python_child(code, unbuffered), timeout=timeout)
