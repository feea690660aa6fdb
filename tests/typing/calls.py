"""Calls to type-check with `mypy --strict` against the installed stubs; never run.

The correct calls must pass. Each wrong call carries an ignore comment with the
error code that mypy must report for it: --strict also reports an ignore that
nothing needed, so a stub that stopped catching one fails the check.
"""

from typing import assert_type

import numpy as np

import brenik

x = np.zeros((4, 2), np.float32)
labels = np.zeros(4, np.int32)
targets = np.zeros(4, np.float32)
doubles = np.zeros((4, 2))

categorical = brenik.create_categorical_model("softmax", "model.json")
categorical = brenik.add_categorical_model_layer(categorical, 2, 3, "dense", "relu")
categorical = brenik.add_categorical_model_layer(categorical, layer_type="dropout", dropout_rate=0.1)
opt = brenik.create_optimizer("adam", 0.01, 0)
assert_type(brenik.train_categorical_model(categorical, opt, 10, 1, x, labels, x, labels), None)
assert_type(brenik.load_categorical_model("model.json"), brenik.CategoricalModel)
brenik.evaluate_categorical_model(categorical, x, labels)

linear = brenik.add_linear_model_layer(brenik.create_linear_model("linear", ""), np.int64(2), 1, "dense")
brenik.train_linear_model(linear, opt, 10, 1, x, targets, x, targets)
assert_type(brenik.load_linear_model("model.json"), brenik.LinearModel)

brenik.create_optimizer(b"adam", 0.01, 0.0)  # type: ignore[arg-type]
brenik.add_categorical_model_layer(categorical, 2.0)  # type: ignore[arg-type]
brenik.add_linear_model_layer(categorical)  # type: ignore[arg-type]
brenik.train_categorical_model(categorical, opt, 10, 1, x, targets, x, labels)  # type: ignore[arg-type]
brenik.train_linear_model(linear, opt, 10, 1, doubles, targets, x, targets)  # type: ignore[arg-type]
brenik.evaluate_linear_model(linear, x)  # type: ignore[call-arg]
