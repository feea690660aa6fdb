"""Small fully connected neural networks trained on NumPy float32 arrays.

Every function works on copies: the model and optimiser objects passed in are
never changed. Internal failures raise PanicException, which derives from
BaseException (not Exception) and is not an attribute of the module.
"""

from typing import SupportsFloat, SupportsIndex, final

import numpy as np
import numpy.typing as npt

__all__ = [
    "create_linear_model",
    "create_categorical_model",
    "add_linear_model_layer",
    "add_categorical_model_layer",
    "create_optimizer",
    "train_linear_model",
    "train_categorical_model",
    "load_linear_model",
    "evaluate_linear_model",
    "load_categorical_model",
    "evaluate_categorical_model",
]

_Real = SupportsFloat | SupportsIndex

# The classes are not attributes of the module: their instances come only from
# the functions below, and calling a class raises TypeError.

@final
class LinearModel:
    """A regression model: linear output, mean squared error, tolerance accuracy."""

@final
class CategoricalModel:
    """A classification model: softmax output, categorical cross-entropy, arg-max accuracy."""

@final
class DynamicOptimizer:
    """An optimiser whose opt_type ("adam", "tf_adam" or "sgd") picks the update rule."""

def create_linear_model(output_type: str, save_best_params: str) -> LinearModel: ...
def create_categorical_model(output_type: str, save_best_params: str) -> CategoricalModel: ...
def add_linear_model_layer(
    model: LinearModel,
    n_inputs: SupportsIndex | None = None,
    n_neurons: SupportsIndex | None = None,
    layer_type: str | None = None,
    activation_type: str | None = None,
    dropout_rate: _Real | None = None,
) -> LinearModel: ...
def add_categorical_model_layer(
    model: CategoricalModel,
    n_inputs: SupportsIndex | None = None,
    n_neurons: SupportsIndex | None = None,
    layer_type: str | None = None,
    activation_type: str | None = None,
    dropout_rate: _Real | None = None,
) -> CategoricalModel: ...
def create_optimizer(opt_type: str, learning_rate: _Real, decay: _Real) -> DynamicOptimizer: ...
def train_linear_model(
    model: LinearModel,
    opt: DynamicOptimizer,
    num_epochs: SupportsIndex,
    print_freq: SupportsIndex,
    x: npt.NDArray[np.float32],
    y: npt.NDArray[np.float32],
    val_x: npt.NDArray[np.float32],
    val_y: npt.NDArray[np.float32],
) -> None: ...
def train_categorical_model(
    model: CategoricalModel,
    opt: DynamicOptimizer,
    num_epochs: SupportsIndex,
    print_freq: SupportsIndex,
    x: npt.NDArray[np.float32],
    y: npt.NDArray[np.int32],
    val_x: npt.NDArray[np.float32],
    val_y: npt.NDArray[np.int32],
) -> None: ...
def load_linear_model(save_best_params: str) -> LinearModel: ...
def evaluate_linear_model(
    model: LinearModel,
    val_x: npt.NDArray[np.float32],
    val_y: npt.NDArray[np.float32],
) -> None: ...
def load_categorical_model(save_best_params: str) -> CategoricalModel: ...
def evaluate_categorical_model(
    model: CategoricalModel,
    val_x: npt.NDArray[np.float32],
    val_y: npt.NDArray[np.int32],
) -> None: ...
