"""Training loops: printed lines, print schedule, best-parameters file, failures."""

import re
import signal
import textwrap

import numpy as np
import pytest

import brenik
from model_files import (NO_VALIDATION, as_array, dense_layer, expect_panic, f32, i32,
                         read_model_file, run_python, shortest, write_linear_model)

# A model without layers is deterministic: its output is the input itself.
# Linear: predictions are x's first column [1, 2, 3, 4] against y [1, 2, 3, 6]:
# squared errors 0, 0, 0, 4 -> loss 1.0; three within 1.0 -> accuracy 0.75.
LINEAR_X = f32([[1, 9], [2, 9], [3, 9], [4, 9]])
LINEAR_Y = f32([1, 2, 3, 6])
LINEAR_VAL_X = f32([[0, 5], [1, 5]])
LINEAR_VAL_Y = f32([0, 3])  # errors 0 and 2: loss 2.0, accuracy 0.5
LINEAR_LINE = "acc: 0.750, loss: 1.000 [mean_squared_error: 1.000, reg: 0.000]"
LINEAR_VAL_LINE = "validation:  acc: 0.500, loss: 2.000 [mean_squared_error: 2.000, reg: 0.000]"

# Categorical: equal scores give probabilities of 0.25, a loss of -ln 0.25 and
# class 0 for every row (the first of equal maxima).
CATEGORICAL_X = np.zeros((4, 4), np.float32)
CATEGORICAL_Y = i32([0, 1, 0, 2])
CATEGORICAL_VAL_X = np.zeros((2, 4), np.float32)
CATEGORICAL_VAL_Y = i32([3, 3])
CATEGORICAL_LINE = "acc: 0.500, loss: 1.386 [categorical_crossentropy: 1.386, reg: 0.000]"
CATEGORICAL_VAL_LINE = ("validation:  acc: 0.000, loss: 1.386 "
                        "[categorical_crossentropy: 1.386, reg: 0.000]")


TRAINING_LINE = re.compile(r"epoch: +(\d+), acc: (\S+), loss: (\S+) "
                           r"\[mean_squared_error: (\S+), reg: (\S+)\], lr (\S+)")


def train_plain_linear(epochs, print_freq, validation=False, opt=None, path=""):
    model = brenik.create_linear_model("linear", path)
    opt = opt or brenik.create_optimizer("adam", 0.01, 0.0)
    val_x, val_y = (LINEAR_VAL_X, LINEAR_VAL_Y) if validation else (NO_VALIDATION, f32([]))
    brenik.train_linear_model(model, opt, epochs, print_freq, LINEAR_X, LINEAR_Y, val_x, val_y)


def regression_data(rows=32, seed=0):
    rng = np.random.default_rng(seed)
    x = rng.uniform(-1, 1, size=(rows, 2)).astype(np.float32)
    y = (x @ f32([1.0, -2.0]) + 0.5).astype(np.float32)
    return x, y


def one_dense_layer_model(path, n_inputs=2):
    model = brenik.create_linear_model("linear", str(path))
    return brenik.add_linear_model_layer(model, n_inputs, 1, "dense")


def printed_lines(capfd):
    out = capfd.readouterr().out
    assert out == "" or out.endswith("\n")
    return out.splitlines()


# --- exact lines -------------------------------------------------------------

@pytest.mark.parametrize("validation", [False, True])
def test_linear_model_without_layers_prints_exact_lines(capfd, validation):
    train_plain_linear(3, 3, validation)
    expected = []
    for epoch in (1, 2, 3):
        expected.append(f"epoch: {epoch:4d}, {LINEAR_LINE}, lr 0.01")
        if validation:
            expected.append(LINEAR_VAL_LINE)
    assert printed_lines(capfd) == expected


@pytest.mark.parametrize("validation", [False, True])
def test_categorical_model_without_layers_prints_exact_lines(capfd, validation):
    model = brenik.create_categorical_model("softmax", "")
    opt = brenik.create_optimizer("sgd", 1.0, 0.0)
    val_x, val_y = (CATEGORICAL_VAL_X, CATEGORICAL_VAL_Y) if validation else (NO_VALIDATION, i32([]))
    brenik.train_categorical_model(model, opt, 2, 1, CATEGORICAL_X, CATEGORICAL_Y, val_x, val_y)
    expected = [f"epoch:    2, {CATEGORICAL_LINE}, lr 1"]
    if validation:
        expected.append(CATEGORICAL_VAL_LINE)
    assert printed_lines(capfd) == expected


def test_printed_rate_is_the_one_in_force_before_the_epochs_update(capfd):
    # Epoch e updates with lr / (1 + decay * (e - 1)) and prints the rate left by
    # the previous epoch's update, so epochs 1 and 2 both show the base rate.
    opt = brenik.create_optimizer("adam", 0.01, 0.1)
    train_plain_linear(5, 5, opt=opt)
    one, lr, decay = np.float32(1.0), np.float32(0.01), np.float32(0.1)
    rates = [lr, lr] + [(one / (decay * np.float32(i) + one)) * lr for i in (1, 2, 3)]
    assert printed_lines(capfd) == [
        f"epoch: {e:4d}, {LINEAR_LINE}, lr {shortest(r)}" for e, r in zip(range(1, 6), rates)]


@pytest.mark.parametrize("rate, text", [(0.001, "0.001"), (1.0, "1"), (1e-7, "0.0000001"),
                                        (100.0, "100"), (float("nan"), "NaN"),
                                        (float("inf"), "inf")])
def test_learning_rate_forms(capfd, rate, text):
    train_plain_linear(1, 1, opt=brenik.create_optimizer("sgd", rate, 0.0))
    assert printed_lines(capfd)[0].endswith(f"], lr {text}")


def test_loaded_model_with_unknown_loss_type_prints_it_with_zero(tmp_path, capfd):
    model = write_linear_model(tmp_path / "in.json", [], loss_type="mae", acc_type="none",
                               save_best_params=str(tmp_path / "out.json"))
    brenik.train_linear_model(model, brenik.create_optimizer("sgd", 0.1, 0.0), 3, 1,
                              LINEAR_X, LINEAR_Y, NO_VALIDATION, f32([]))
    assert printed_lines(capfd) == [
        "epoch:    3, acc: 0.000, loss: 0.000 [mae: 0.000, reg: 0.000], lr 0.1"]
    assert not (tmp_path / "out.json").exists()  # every loss is 0.0: never strictly lower


def test_progress_figures_follow_a_model_with_layers(tmp_path, capfd):
    # Layers built from Python carry no regulariser factors: reg is 0 and the
    # total equals the data loss.
    x, y = regression_data()
    model = one_dense_layer_model(tmp_path / "m.json")
    brenik.train_linear_model(model, brenik.create_optimizer("adam", 0.05, 0.0), 40, 4,
                              x, y, x, y)
    lines = printed_lines(capfd)
    assert len(lines) == 8
    losses = []
    for train, val in zip(lines[::2], lines[1::2]):
        assert train.startswith("epoch: ") and val.startswith("validation:  acc: ")
        match = TRAINING_LINE.fullmatch(train)
        assert match, train
        acc, total, data, reg = (float(match[i]) for i in (2, 3, 4, 5))
        assert 0.0 <= acc <= 1.0
        assert reg == 0.0
        assert total == data
        losses.append(data)
    assert losses[-1] < losses[0]


# --- print schedule ------------------------------------------------------------

@pytest.mark.parametrize("epochs, print_freq, printed", [
    (100, 3, [33, 66, 99]),
    (5, 10, []),
    (10, 10, list(range(1, 11))),
    (7, 2, [3, 6]),
    (1, 1, [1]),
    (0, 5, []),
])
@pytest.mark.parametrize("validation", [False, True])
def test_print_schedule(capfd, epochs, print_freq, printed, validation):
    train_plain_linear(epochs, print_freq, validation)
    lines = printed_lines(capfd)
    training = [line for line in lines if line.startswith("epoch:")]
    assert [int(line[6:11]) for line in training] == printed
    if validation:
        # each training line is followed by its validation line
        assert lines == [x for line in training for x in (line, LINEAR_VAL_LINE)]
    else:
        assert lines == training


def test_all_65535_epochs_run_and_wide_epochs_print_in_full(capfd):
    train_plain_linear(65535, 1)
    assert printed_lines(capfd) == [f"epoch: 65535, {LINEAR_LINE}, lr 0.01"]


def test_epoch_field_widths(capfd):
    train_plain_linear(12345, 12345)
    lines = printed_lines(capfd)
    assert lines[6].startswith("epoch:    7, ")
    assert lines[1233].startswith("epoch: 1234, ")
    assert lines[-1].startswith("epoch: 12345, ")


# --- best parameters -------------------------------------------------------------

def test_constant_loss_never_writes_the_file(tmp_path):
    path = tmp_path / "m.json"
    train_plain_linear(50, 1, path=str(path))
    assert not path.exists()


def test_first_epoch_never_writes_the_file(tmp_path):
    x, y = regression_data()
    path = tmp_path / "m.json"
    brenik.train_linear_model(one_dense_layer_model(path), brenik.create_optimizer("adam", 0.01, 0.0),
                              1, 1, x, y, NO_VALIDATION, f32([]))
    assert not path.exists()


def test_rising_loss_never_writes_the_file(tmp_path):
    x, y = regression_data()
    path = tmp_path / "m.json"
    ascent = brenik.create_optimizer("sgd", -0.5, 0.0)
    brenik.train_linear_model(one_dense_layer_model(path), ascent, 20, 1, x, y,
                              NO_VALIDATION, f32([]))
    assert not path.exists()


def test_empty_path_never_writes(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    x, y = regression_data()
    brenik.train_linear_model(one_dense_layer_model(""), brenik.create_optimizer("adam", 0.05, 0.0),
                              20, 1, x, y, x, y)
    assert list(tmp_path.iterdir()) == []


def test_improving_loss_writes_a_loadable_file(tmp_path, capfd):
    x, y = regression_data()
    path = tmp_path / "m.json"
    brenik.train_linear_model(one_dense_layer_model(path), brenik.create_optimizer("adam", 0.05, 0.0),
                              30, 1, x, y, NO_VALIDATION, f32([]))
    capfd.readouterr()
    stored = read_model_file(path)
    assert stored["save_best_params"] == str(path)
    assert [layer["layer_type"] for layer in stored["layers"]] == ["dense"]
    brenik.evaluate_linear_model(brenik.load_linear_model(str(path)), x, y)
    assert len(printed_lines(capfd)) == len(x) + 1


@pytest.mark.parametrize("validation", [False, True])
def test_file_holds_the_inputs_of_the_last_forward_pass(tmp_path, validation):
    x, y = regression_data(rows=16)
    val_x, val_y = regression_data(rows=5, seed=1)
    path = tmp_path / "m.json"
    model = brenik.create_linear_model("linear", str(path))
    model = brenik.add_linear_model_layer(model, 2, 4, "dense", "relu")
    model = brenik.add_linear_model_layer(model, 4, 1, "dense")
    if not validation:
        val_x, val_y = NO_VALIDATION, f32([])
    brenik.train_linear_model(model, brenik.create_optimizer("adam", 0.01, 0.0), 5, 10,
                              x, y, val_x, val_y)
    first = read_model_file(path)["layers"][0]
    np.testing.assert_array_equal(as_array(first["inputs"]), val_x if validation else x)


def test_file_holds_keep_probability_of_dropout_layers(tmp_path):
    x, y = regression_data()
    path = tmp_path / "m.json"
    model = brenik.create_linear_model("linear", str(path))
    model = brenik.add_linear_model_layer(model, 2, 8, "dense", "relu")
    model = brenik.add_linear_model_layer(model, dropout_rate=0.2, layer_type="dropout")
    model = brenik.add_linear_model_layer(model, 8, 1, "dense")
    brenik.train_linear_model(model, brenik.create_optimizer("adam", 0.01, 0.0), 10, 10,
                              x, y, NO_VALIDATION, f32([]))
    dropout = read_model_file(path)["layers"][1]
    assert np.float32(dropout["dropout_rate"]) == np.float32(1.0) - np.float32(0.2)
    assert as_array(dropout["weights"]).shape == (0, 0)


def mse_gradients(x, y, weights, biases):
    """dweights, dbiases of one linear dense layer under the mean squared error."""
    out = x.astype(np.float64) @ weights + biases
    dvalues = (y[:, None] - out) * -2.0 / out.shape[1] / out.shape[0]
    return x.T.astype(np.float64) @ dvalues, dvalues.sum(axis=0)


def test_file_after_sgd_holds_parameters_one_update_past_its_gradients(tmp_path):
    x, y = regression_data()
    path = tmp_path / "m.json"
    lr = 0.1
    brenik.train_linear_model(one_dense_layer_model(path), brenik.create_optimizer("sgd", lr, 0.0),
                              2, 1, x, y, NO_VALIDATION, f32([]))
    layer = read_model_file(path)["layers"][0]  # written at epoch 2
    weights, biases = as_array(layer["weights"]), as_array(layer["biases"])
    dweights, dbiases = as_array(layer["dweights"]), as_array(layer["dbiases"])
    # Undo the update, then the gradients of that forward pass must be the stored ones.
    before_w = weights.astype(np.float64) + lr * dweights
    before_b = biases.astype(np.float64) + lr * dbiases
    want_dw, want_db = mse_gradients(x, y, before_w, before_b)
    np.testing.assert_allclose(dweights, want_dw, rtol=1e-4, atol=1e-6)
    np.testing.assert_allclose(dbiases, want_db, rtol=1e-4, atol=1e-6)
    assert np.abs(dweights).max() > 1e-3
    assert as_array(layer["weight_momentums"]).shape == (0, 0)  # sgd keeps no state


def test_file_after_adam_holds_state_consistent_with_two_steps(tmp_path):
    x, y = regression_data()
    path = tmp_path / "m.json"
    lr, beta_1, beta_2, eps = 0.01, 0.9, 0.999, 1e-7
    brenik.train_linear_model(one_dense_layer_model(path), brenik.create_optimizer("adam", lr, 0.0),
                              2, 1, x, y, NO_VALIDATION, f32([]))
    layer = read_model_file(path)["layers"][0]  # written at epoch 2, so t = 2
    get = lambda key: as_array(layer[key]).astype(np.float64)
    g, m, v = get("dweights"), get("weight_momentums"), get("weight_cache")
    gb, mb, vb = get("dbiases"), get("bias_momentums"), get("bias_cache")
    # Step 1 left m1 = 0.1 g1 and v1 = 0.001 g1^2, so v1 = 0.1 m1^2.
    m1 = (m - (1 - beta_1) * g) / beta_1
    v1 = (v - (1 - beta_2) * g * g) / beta_2
    np.testing.assert_allclose(v1, 0.1 * m1 * m1, rtol=1e-3)
    # Undoing step 2 gives the parameters whose gradients were stored.
    def undo(param, m2, v2):
        m_hat, v_hat = m2 / (1 - beta_1 ** 2), v2 / (1 - beta_2 ** 2)
        return param + lr * m_hat / (np.sqrt(v_hat) + eps)
    before_w = undo(get("weights"), m, v)
    before_b = undo(get("biases"), mb, vb)
    want_dw, want_db = mse_gradients(x, y, before_w, before_b)
    np.testing.assert_allclose(g, want_dw, rtol=1e-3, atol=1e-6)
    np.testing.assert_allclose(gb, want_db, rtol=1e-3, atol=1e-6)


# --- the caller's objects ------------------------------------------------------

def test_arguments_are_unchanged(tmp_path, capfd):
    x, y = regression_data()
    x_before, y_before = x.copy(), y.copy()
    untrained = one_dense_layer_model(tmp_path / "m.json")
    opt = brenik.create_optimizer("adam", 0.01, 0.5)
    brenik.train_linear_model(untrained, opt, 5, 5, x, y, x, y)
    np.testing.assert_array_equal(x, x_before)
    np.testing.assert_array_equal(y, y_before)
    capfd.readouterr()
    # The model object still has its never-initialised 0 x 0 weights.
    message = expect_panic(brenik.evaluate_linear_model, untrained, x, y)
    assert message
    assert printed_lines(capfd) == []


def test_optimizer_object_is_not_advanced(capfd):
    opt = brenik.create_optimizer("sgd", 0.01, 0.5)
    train_plain_linear(4, 4, opt=opt)
    first = printed_lines(capfd)
    train_plain_linear(4, 4, opt=opt)
    assert printed_lines(capfd) == first
    assert first[0].endswith("lr 0.01") and not first[3].endswith("lr 0.01")


def test_loaded_model_object_evaluates_the_same_after_training(tmp_path, capfd):
    model = write_linear_model(tmp_path / "in.json", [dense_layer([[1.0], [0.5]], [0.25])],
                               save_best_params=str(tmp_path / "out.json"))
    x, y = regression_data(rows=6)
    brenik.evaluate_linear_model(model, x, y)
    before = printed_lines(capfd)
    brenik.train_linear_model(model, brenik.create_optimizer("adam", 0.05, 0.0), 10, 10,
                              x, y, NO_VALIDATION, f32([]))
    capfd.readouterr()
    brenik.evaluate_linear_model(model, x, y)
    assert printed_lines(capfd) == before


# --- failures at their moment ----------------------------------------------------

@pytest.mark.parametrize("kind", ["linear", "categorical"])
def test_print_freq_zero_fails_before_anything(tmp_path, capfd, kind):
    path = tmp_path / "m.json"
    if kind == "linear":
        model = brenik.create_linear_model("linear", str(path))
        call = brenik.train_linear_model
        y, short_y = LINEAR_Y, LINEAR_Y[:2]
        x = LINEAR_X
    else:
        model = brenik.create_categorical_model("softmax", str(path))
        call = brenik.train_categorical_model
        y, short_y = CATEGORICAL_Y, CATEGORICAL_Y[:2]
        x = CATEGORICAL_X
    opt = brenik.create_optimizer("adam", 0.01, 0.0)
    assert expect_panic(call, model, opt, 10, 0, x, y, NO_VALIDATION, y[:0]) == \
        "attempt to divide by zero"
    # the divisor is tested before the sample counts
    assert expect_panic(call, model, opt, 10, 0, x, short_y, NO_VALIDATION, y[:0]) == \
        "attempt to divide by zero"
    assert printed_lines(capfd) == []
    assert not path.exists()


def test_print_freq_zero_is_not_an_ordinary_exception():
    model = brenik.create_linear_model("linear", "")
    opt = brenik.create_optimizer("adam", 0.01, 0.0)
    with pytest.raises(BaseException) as info:
        try:
            brenik.train_linear_model(model, opt, 1, 0, LINEAR_X, LINEAR_Y, NO_VALIDATION, f32([]))
        except Exception:  # must not catch it
            pytest.fail("PanicException was caught as an Exception")
    assert type(info.value).__name__ == "PanicException"


def test_linear_training_on_no_samples_fails_in_the_first_loss(capfd):
    model = brenik.create_linear_model("linear", "")
    expect_panic(brenik.train_linear_model, model, brenik.create_optimizer("adam", 0.01, 0.0),
                 3, 1, np.zeros((0, 2), np.float32), f32([]), NO_VALIDATION, f32([]))
    assert printed_lines(capfd) == []


def test_linear_model_with_other_output_type_fails_in_the_first_loss(capfd):
    model = brenik.create_linear_model("relu", "")
    expect_panic(brenik.train_linear_model, model, brenik.create_optimizer("adam", 0.01, 0.0),
                 3, 3, LINEAR_X, LINEAR_Y, NO_VALIDATION, f32([]))
    assert printed_lines(capfd) == []


def test_categorical_model_with_other_output_type_trains_with_nan_accuracy(capfd):
    # No softmax: no predictions (accuracy 0/0) and the loss of the raw zeros,
    # clipped to 1e-7: -ln(1e-7).
    model = brenik.create_categorical_model("linear", "")
    brenik.train_categorical_model(model, brenik.create_optimizer("adam", 0.01, 0.0), 2, 1,
                                   CATEGORICAL_X, CATEGORICAL_Y, NO_VALIDATION, i32([]))
    assert printed_lines(capfd) == [
        "epoch:    2, acc: NaN, loss: 16.118 [categorical_crossentropy: 16.118, reg: 0.000], "
        "lr 0.01"]


@pytest.mark.parametrize("with_layer", [False, True])
@pytest.mark.parametrize("bad_class", [4, -1])
def test_class_index_out_of_range_fails_before_any_line(capfd, bad_class, with_layer):
    model = brenik.create_categorical_model("softmax", "")
    if with_layer:  # four output columns, as without layers
        model = brenik.add_categorical_model_layer(model, 4, 4, "dense", "relu")
    # At an end of the rows: an unchecked index would reach outside the output.
    y = i32([bad_class, 1, 0, 2] if bad_class < 0 else [0, 1, 2, bad_class])
    expect_panic(brenik.train_categorical_model, model, brenik.create_optimizer("adam", 0.01, 0.0),
                 3, 3, CATEGORICAL_X, y, NO_VALIDATION, i32([]))
    assert printed_lines(capfd) == []


def test_unwritable_model_file_fails_at_the_first_improvement(tmp_path, capfd):
    x, y = regression_data()
    path = tmp_path / "missing-dir" / "m.json"
    message = expect_panic(brenik.train_linear_model, one_dense_layer_model(path),
                           brenik.create_optimizer("adam", 0.05, 0.0), 10, 10, x, y,
                           NO_VALIDATION, f32([]))
    assert "No such file or directory" in message
    # epochs 1 and 2 printed their lines; epoch 2's save ended the call
    assert [line[:11] for line in printed_lines(capfd)] == ["epoch:    1", "epoch:    2"]


# --- sample counts (refused before the first epoch) --------------------------------

@pytest.mark.parametrize("y_len, val_y_len, message", [
    (3, 2, "sample count mismatch: x has 4 rows but y has 3 entries"),
    (5, 2, "sample count mismatch: x has 4 rows but y has 5 entries"),
    (4, 1, "sample count mismatch: val_x has 2 rows but val_y has 1 entries"),
    (4, 3, "sample count mismatch: val_x has 2 rows but val_y has 3 entries"),
])
def test_sample_count_mismatch_is_refused(tmp_path, capfd, y_len, val_y_len, message):
    path = tmp_path / "m.json"
    y = f32(np.arange(y_len))
    val_y = f32(np.arange(val_y_len))
    model = brenik.create_linear_model("linear", str(path))
    opt = brenik.create_optimizer("adam", 0.01, 0.0)
    assert expect_panic(brenik.train_linear_model, model, opt, 5, 5, LINEAR_X, y,
                        LINEAR_VAL_X, val_y) == message
    cat = brenik.create_categorical_model("softmax", str(path))
    assert expect_panic(brenik.train_categorical_model, cat, opt, 5, 5, CATEGORICAL_X,
                        i32(np.arange(y_len) % 4), CATEGORICAL_VAL_X,
                        i32(np.arange(val_y_len) % 4)) == message
    assert printed_lines(capfd) == []


def test_validation_targets_are_ignored_without_validation_set(capfd):
    model = brenik.create_linear_model("linear", "")
    brenik.train_linear_model(model, brenik.create_optimizer("adam", 0.01, 0.0), 1, 1,
                              LINEAR_X, LINEAR_Y, NO_VALIDATION, f32([1, 2, 3]))
    assert len(printed_lines(capfd)) == 1


# --- Ctrl-C, standard output, ordering ------------------------------------------------

def test_keyboard_interrupt_ends_training_and_keeps_the_file(tmp_path, capfd):
    rng = np.random.default_rng(3)
    x = rng.uniform(-1, 1, size=(256, 16)).astype(np.float32)
    y = x.sum(axis=1).astype(np.float32)
    path = tmp_path / "m.json"
    model = brenik.create_linear_model("linear", str(path))
    model = brenik.add_linear_model_layer(model, 16, 32, "dense", "relu")
    model = brenik.add_linear_model_layer(model, 32, 1, "dense")

    # A repeating timer: the first two handlers return and training goes on;
    # the third raises as Ctrl-C would, long before the run could end.
    ticks = []

    def tick(signum, frame):
        ticks.append(signum)
        if len(ticks) >= 3:
            raise KeyboardInterrupt

    previous = signal.signal(signal.SIGALRM, tick)
    try:
        signal.setitimer(signal.ITIMER_REAL, 0.02, 0.02)
        with pytest.raises(KeyboardInterrupt):
            # print_freq 1: the only line would come at epoch 65535
            brenik.train_linear_model(model, brenik.create_optimizer("adam", 0.001, 0.0),
                                      65535, 1, x, y, NO_VALIDATION, f32([]))
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)
    assert printed_lines(capfd) == []
    brenik.load_linear_model(str(path))  # the best model when the interrupt came, whole
    assert [p.name for p in tmp_path.iterdir()] == ["m.json"]


TRAIN_SCRIPT = """
import sys, numpy as np, brenik
x = np.array([[1.0], [2.0]], np.float32); y = np.array([1.0, 2.0], np.float32)
model = brenik.create_linear_model("linear", "")
opt = brenik.create_optimizer("sgd", 0.01, 0.0)
{setup}
try:
    brenik.train_linear_model(model, opt, 2, 2, x, y, np.zeros((0, 0), np.float32), y[:0])
except BaseException as e:
    sys.stderr.write(type(e).__name__ + ": " + str(e) + "\\n")
    sys.exit(3)
"""


@pytest.mark.parametrize("setup, error", [
    ("import os; os.close(1)", "Bad file descriptor (os error 9)"),
    ("import os; r, w = os.pipe(); os.close(r); os.dup2(w, 1)", "Broken pipe (os error 32)"),
])
def test_failed_write_to_stdout_raises_panic(setup, error):
    result = run_python(TRAIN_SCRIPT.format(setup=setup))
    assert result.returncode == 3, result.stderr
    assert result.stderr.splitlines()[-1] == f"PanicException: failed printing to stdout: {error}"


def test_lines_keep_program_order_with_python_prints_on_a_pipe():
    script = textwrap.dedent("""
        import numpy as np, brenik
        x = np.array([[1.0]], np.float32); y = np.array([1.0], np.float32)
        print("before training")
        brenik.train_linear_model(brenik.create_linear_model("linear", ""),
                                  brenik.create_optimizer("sgd", 1, 0), 1, 1, x, y,
                                  np.zeros((0, 0), np.float32), y[:0])
        print("between")
        brenik.evaluate_linear_model(brenik.create_linear_model("linear", ""), x, y)
        print("after")
    """)
    result = run_python(script, unbuffered=False)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "before training",
        "epoch:    1, acc: 1.000, loss: 0.000 [mean_squared_error: 0.000, reg: 0.000], lr 1",
        "between",
        "True: 1.000, Predicted: 1.000, Error 0.000",
        "Validation MSE: 0.000, Accuracy 100.0%",
        "after",
    ]
