"""Argument binding and conversion: exact messages, test order, re-labelling,
the argument kinds, and that no function changes the objects it is given."""

import re

import numpy as np
import pytest

import brenik
from model_files import categorical, linear, optimizer

X = np.zeros((1, 1), np.float32)
Y = np.zeros(1, np.float32)
LABELS = np.zeros(1, np.int32)


def raised(call):
    with pytest.raises(BaseException) as info:
        call()
    return info.value


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class Real:
    def __float__(self):
        return 0.25


class ConversionRaising:
    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error

    def __float__(self):
        raise self.error


def named_by_metaclass(qualname):
    """An instance of a class whose metaclass answers __qualname__ with qualname()."""
    class Meta(type):
        def __getattribute__(cls, name):
            return qualname() if name == "__qualname__" else super().__getattribute__(name)
    return Meta("Named", (), {})()


def no_name():
    raise RuntimeError("no name")


class TypeErrorSubclass(TypeError):
    pass


def error_from(error, cause):
    error.__cause__ = cause
    return error


# --- binding -------------------------------------------------------------------

BINDING_ERRORS = [
    # too many positional arguments
    (lambda: brenik.create_linear_model("a", "b", "c"),
     "create_linear_model() takes 2 positional arguments but 3 were given"),
    (lambda: brenik.load_linear_model("a", "b"),
     "load_linear_model() takes 1 positional arguments but 2 were given"),
    (lambda: brenik.train_linear_model(*range(9)),
     "train_linear_model() takes 8 positional arguments but 9 were given"),
    (lambda: brenik.add_linear_model_layer(*range(7)),
     "add_linear_model_layer() takes from 1 to 6 positional arguments but 7 were given"),
    (lambda: brenik.add_categorical_model_layer(*range(8)),
     "add_categorical_model_layer() takes from 1 to 6 positional arguments but 8 were given"),
    # keywords
    (lambda: brenik.create_optimizer("adam", 1, 0, rate=1),
     "create_optimizer() got an unexpected keyword argument 'rate'"),
    (lambda: brenik.evaluate_linear_model(linear(), X, Y, model=linear()),
     "evaluate_linear_model() got multiple values for argument 'model'"),
    (lambda: brenik.add_linear_model_layer(linear(), 1, 2, n_neurons=3),
     "add_linear_model_layer() got multiple values for argument 'n_neurons'"),
    # missing required parameters, all in one message
    (lambda: brenik.create_linear_model("linear"),
     "create_linear_model() missing 1 required positional argument: 'save_best_params'"),
    (lambda: brenik.create_categorical_model(),
     "create_categorical_model() missing 2 required positional arguments: "
     "'output_type' and 'save_best_params'"),
    (lambda: brenik.create_optimizer(),
     "create_optimizer() missing 3 required positional arguments: "
     "'opt_type', 'learning_rate', and 'decay'"),
    (lambda: brenik.train_categorical_model(categorical(), print_freq=1, y=LABELS),
     "train_categorical_model() missing 5 required positional arguments: "
     "'opt', 'num_epochs', 'x', 'val_x', and 'val_y'"),
    (lambda: brenik.add_linear_model_layer(n_inputs=1),
     "add_linear_model_layer() missing 1 required positional argument: 'model'"),
    (lambda: brenik.load_categorical_model(),
     "load_categorical_model() missing 1 required positional argument: 'save_best_params'"),
    # the tests run in order: positional count, keywords as given, missing
    (lambda: brenik.create_linear_model("a", "b", "c", nonsense=1),
     "create_linear_model() takes 2 positional arguments but 3 were given"),
    (lambda: brenik.create_linear_model("a", nonsense=1, output_type="b"),
     "create_linear_model() got an unexpected keyword argument 'nonsense'"),
    (lambda: brenik.create_linear_model("a", output_type="b", nonsense=1),
     "create_linear_model() got multiple values for argument 'output_type'"),
    (lambda: brenik.create_optimizer(nonsense=1),
     "create_optimizer() got an unexpected keyword argument 'nonsense'"),
    # binding comes before any conversion
    (lambda: brenik.create_linear_model(1),
     "create_linear_model() missing 1 required positional argument: 'save_best_params'"),
]


@pytest.mark.parametrize("call, message", BINDING_ERRORS)
def test_binding_errors(call, message):
    error = raised(call)
    assert type(error) is TypeError
    assert str(error) == message


def test_keywords_fill_parameters_in_any_order():
    opt = brenik.create_optimizer(decay=0.0, learning_rate=0.1, opt_type="sgd")
    model = brenik.add_linear_model_layer(dropout_rate=0.5, model=linear())
    brenik.train_linear_model(val_y=Y, val_x=X, y=Y, x=X, print_freq=1, num_epochs=0,
                              opt=opt, model=model)


# --- conversion errors -------------------------------------------------------

CONVERSION_ERRORS = [
    # text
    (lambda: brenik.create_linear_model(b"linear", ""), TypeError,
     "argument 'output_type': 'bytes' object cannot be converted to 'PyString'"),
    (lambda: brenik.create_optimizer(None, 0.1, 0.0), TypeError,
     "argument 'opt_type': 'NoneType' object cannot be converted to 'PyString'"),
    (lambda: brenik.add_linear_model_layer(linear(), layer_type=1), TypeError,
     "argument 'layer_type': 'int' object cannot be converted to 'PyString'"),
    (lambda: brenik.load_linear_model(Index(1)), TypeError,
     "argument 'save_best_params': 'Index' object cannot be converted to 'PyString'"),
    (lambda: brenik.create_linear_model("lin\udc80ear", ""), UnicodeEncodeError,
     "'utf-8' codec can't encode character '\\udc80' in position 3: surrogates not allowed"),
    # count
    (lambda: brenik.add_linear_model_layer(linear(), 2.0), TypeError,
     "argument 'n_inputs': 'float' object cannot be interpreted as an integer"),
    (lambda: brenik.add_linear_model_layer(linear(), n_neurons="3"), TypeError,
     "argument 'n_neurons': 'str' object cannot be interpreted as an integer"),
    (lambda: brenik.add_linear_model_layer(linear(), -1), OverflowError,
     "can't convert negative int to unsigned"),
    (lambda: brenik.add_categorical_model_layer(categorical(), 1, 2**64), OverflowError,
     "int too big to convert"),
    # small count
    (lambda: brenik.train_linear_model(linear(), optimizer(), 70000, 1, X, Y, X, Y),
     OverflowError, "out of range integral type conversion attempted"),
    (lambda: brenik.train_linear_model(linear(), optimizer(), 1, -1, X, Y, X, Y),
     OverflowError, "out of range integral type conversion attempted"),
    (lambda: brenik.train_linear_model(linear(), optimizer(), 65536, 1, X, Y, X, Y),
     OverflowError, "out of range integral type conversion attempted"),
    (lambda: brenik.train_linear_model(linear(), optimizer(), 2**64, 1, X, Y, X, Y),
     OverflowError, "Python int too large to convert to C long"),
    (lambda: brenik.train_linear_model(linear(), optimizer(), 1.0, 1, X, Y, X, Y), TypeError,
     "argument 'num_epochs': 'float' object cannot be interpreted as an integer"),
    (lambda: brenik.train_linear_model(linear(), optimizer(), 1, None, X, Y, X, Y), TypeError,
     "argument 'print_freq': 'NoneType' object cannot be interpreted as an integer"),
    # real
    (lambda: brenik.create_optimizer("adam", "0.1", 0.0), TypeError,
     "argument 'learning_rate': must be real number, not str"),
    (lambda: brenik.create_optimizer("adam", 0.1, None), TypeError,
     "argument 'decay': must be real number, not NoneType"),
    (lambda: brenik.add_linear_model_layer(linear(), dropout_rate=[0.5]), TypeError,
     "argument 'dropout_rate': must be real number, not list"),
    (lambda: brenik.create_optimizer("adam", 10**400, 0.0), OverflowError,
     "int too large to convert to float"),
    # classes
    (lambda: brenik.add_categorical_model_layer(linear()), TypeError,
     "argument 'model': 'LinearModel' object cannot be converted to 'CategoricalModel'"),
    (lambda: brenik.evaluate_linear_model(categorical(), X, Y), TypeError,
     "argument 'model': 'CategoricalModel' object cannot be converted to 'LinearModel'"),
    (lambda: brenik.train_linear_model(linear(), linear(), 1, 1, X, Y, X, Y), TypeError,
     "argument 'opt': 'LinearModel' object cannot be converted to 'DynamicOptimizer'"),
    (lambda: brenik.train_categorical_model(optimizer(), optimizer(), 1, 1, X, LABELS, X, LABELS),
     TypeError,
     "argument 'model': 'DynamicOptimizer' object cannot be converted to 'CategoricalModel'"),
    (lambda: brenik.add_linear_model_layer(None), TypeError,
     "argument 'model': 'NoneType' object cannot be converted to 'LinearModel'"),
    # the type's name as its metaclass gives it, or none
    (lambda: brenik.create_linear_model(named_by_metaclass(lambda: "Renamed"), ""), TypeError,
     "argument 'output_type': 'Renamed' object cannot be converted to 'PyString'"),
    (lambda: brenik.add_linear_model_layer(named_by_metaclass(no_name)), TypeError,
     "argument 'model': '<failed to extract type name>' object cannot be converted to "
     "'LinearModel'"),
    (lambda: brenik.evaluate_linear_model(linear(), named_by_metaclass(lambda: 42), Y), TypeError,
     "argument 'val_x': '<failed to extract type name>' object cannot be converted to "
     "'PyArray<T, D>'"),
    # the first failing argument in parameter order wins, keywords included
    (lambda: brenik.create_linear_model(save_best_params=1, output_type=2), TypeError,
     "argument 'output_type': 'int' object cannot be converted to 'PyString'"),
    (lambda: brenik.train_linear_model(linear(), optimizer(), 70000, 1.0, [], [], [], []),
     OverflowError, "out of range integral type conversion attempted"),
]


@pytest.mark.parametrize("call, kind, message", CONVERSION_ERRORS)
def test_conversion_errors(call, kind, message):
    error = raised(call)
    assert type(error) is kind
    assert str(error) == message


def test_relabelled_type_error_keeps_the_original_cause_only():
    root = ValueError("root")
    error = raised(lambda: brenik.add_linear_model_layer(
        linear(), ConversionRaising(error_from(TypeError("inner"), root))))
    assert type(error) is TypeError
    assert str(error) == "argument 'n_inputs': inner"
    assert error.__cause__ is root
    assert error.__context__ is None


@pytest.mark.parametrize("error", [TypeError, TypeErrorSubclass], ids=lambda e: e.__name__)
@pytest.mark.parametrize("name, call", [
    ("n_inputs", lambda value: brenik.add_linear_model_layer(linear(), value)),
    ("print_freq", lambda value: brenik.train_linear_model(linear(), optimizer(), 1, value,
                                                           X, Y, X, Y)),
    ("decay", lambda value: brenik.create_optimizer("sgd", 0.1, value)),
], ids=["count", "small_count", "real"])
def test_relabelled_type_error_without_cause(error, name, call):
    relabelled = raised(lambda: call(ConversionRaising(error("x"))))
    assert type(relabelled) is TypeError
    assert str(relabelled) == f"argument '{name}': x"
    assert relabelled.__cause__ is None


@pytest.mark.parametrize("error", [
    ValueError("from __index__"),
    OverflowError("from __index__"),
], ids=lambda e: type(e).__name__)
def test_other_exceptions_from_a_conversion_reach_the_caller_unchanged(error):
    raising = ConversionRaising(error)
    assert raised(lambda: brenik.add_linear_model_layer(linear(), raising)) is error


# --- accepted values -----------------------------------------------------------

class Text(str):
    pass


@pytest.mark.parametrize("count", [0, 1, True, 2**64 - 1, np.int64(5), np.uint64(2**64 - 1),
                                   np.int8(3), Index(7)], ids=repr)
def test_count_accepts_index_objects(count):
    assert type(brenik.add_linear_model_layer(linear(), count, count)).__name__ == "LinearModel"


@pytest.mark.parametrize("small_count", [0, False, np.uint16(0), np.int64(0), Index(0)], ids=repr)
def test_small_count_accepts_index_objects(small_count, capfd):
    brenik.train_linear_model(linear(), optimizer(), small_count, 65535, X, Y, X, Y)
    assert capfd.readouterr().out == ""


@pytest.mark.parametrize("text", ["", "dense", Text("dense"), "dënse\x00", "层"], ids=repr)
def test_text_accepts_str_and_subclasses(text):
    brenik.add_categorical_model_layer(categorical(), layer_type=text, activation_type=text)
    brenik.create_optimizer(text, 0.1, 0.0)


def test_optional_parameters_absent_or_none_are_the_same(capfd):
    absent = brenik.add_linear_model_layer(linear())
    none = brenik.add_linear_model_layer(linear(), None, None, None, None, None)
    for model in (absent, none):
        # A layer with empty texts and zero sizes passes nothing on: no predictions.
        brenik.evaluate_linear_model(model, X, Y)
    assert capfd.readouterr().out == "Validation MSE: NaN, Accuracy NaN%\n" * 2


def printed_learning_rate(capfd, learning_rate):
    opt = brenik.create_optimizer("sgd", learning_rate, 0.0)
    no_validation = np.zeros((0, 0), np.float32)
    brenik.train_linear_model(linear(), opt, 1, 1, X, Y, no_validation, Y[:0])
    return re.search(r", lr (\S+)\n", capfd.readouterr().out).group(1)


@pytest.mark.parametrize("learning_rate, printed", [
    (1, "1"),
    (True, "1"),
    (np.float64(0.5), "0.5"),
    (Real(), "0.25"),
    (Index(3), "3"),
    (0.1, "0.1"),                      # float32 nearest to the double 0.1
    (1 / 3, "0.33333334"),
    (0.30000000000000004, "0.3"),
    (float("nan"), "NaN"),
    (float("inf"), "inf"),
    (float("-inf"), "-inf"),
    (1e300, "inf"),                    # beyond the float32 range
    (-1e300, "-inf"),
    (3.4028235e38, "340282350000000000000000000000000000000"),
], ids=repr)
def test_real_is_rounded_to_float32(capfd, learning_rate, printed):
    assert printed_learning_rate(capfd, learning_rate) == printed


# --- objects passed in are never changed ------------------------------------------

def test_adding_a_layer_returns_a_new_model_and_keeps_the_old_one(capfd):
    empty = linear()
    first = brenik.add_linear_model_layer(empty, 1, 1, "dense")
    second = brenik.add_linear_model_layer(empty)
    assert first is not empty and second is not empty and first is not second
    # The empty model still passes its inputs through as predictions.
    brenik.evaluate_linear_model(empty, X + 2, Y + 2)
    assert capfd.readouterr().out.splitlines()[-1] == "Validation MSE: 0.000, Accuracy 100.0%"
    # The other copy holds only its own inert layer, not the dense one.
    brenik.evaluate_linear_model(second, X, Y)
    assert capfd.readouterr().out == "Validation MSE: NaN, Accuracy NaN%\n"
    # A dense layer that was never trained has no weights and fails.
    assert type(raised(lambda: brenik.evaluate_linear_model(first, X, Y))).__name__ == \
        "PanicException"


def test_each_call_returns_a_new_object():
    model = categorical()
    assert brenik.add_categorical_model_layer(model) is not brenik.add_categorical_model_layer(model)
    assert brenik.create_optimizer("sgd", 1, 0) is not brenik.create_optimizer("sgd", 1, 0)
