"""Evaluation: per-sample and summary lines, summaries without samples, failures."""

import signal
import subprocess
import textwrap
import time

import numpy as np
import pytest

import brenik
from model_files import (dense_layer, expect_panic, f32, fixed, i32, python_child, run_python,
                         write_categorical_model, write_linear_model)

# dense 2 -> 2 relu (identity weights, biases [0, -1]), then dense 2 -> 1 with
# weights [1, 0.5] and bias 0.25: every value below is exact in float32.
TWO_LAYERS = [dense_layer([[1, 0], [0, 1]], [0, -1], "relu"), dense_layer([[1], [0.5]], [0.25])]
X = f32([[1.25, 0.0], [1.0, 2.5], [4.0, 2.5]])  # predictions 1.5, 2.0, 5.0
Y = f32([1, 2, 3])

# Outputs [0.1, 0.7, 0.2] and [0.6, 0.3, 0.1] come from the softmax of their logarithms.
PROBABILITIES = f32([[0.1, 0.7, 0.2], [0.6, 0.3, 0.1]])
LOG_P = np.log(PROBABILITIES).astype(np.float32)


def printed_lines(capfd):
    out = capfd.readouterr().out
    assert out == "" or out.endswith("\n")
    return out.splitlines()


# --- linear ---------------------------------------------------------------------

def test_linear_lines_from_a_hand_written_file(tmp_path, capfd):
    model = write_linear_model(tmp_path / "m.json", TWO_LAYERS)
    brenik.evaluate_linear_model(model, X, Y)
    assert printed_lines(capfd) == [
        "True: 1.000, Predicted: 1.500, Error 0.500",
        "True: 2.000, Predicted: 2.000, Error 0.000",
        "True: 3.000, Predicted: 5.000, Error 2.000",
        # the mean absolute error, under its established label
        "Validation MSE: 0.833, Accuracy 66.7%",
    ]


@pytest.mark.parametrize("acc_precision, percent", [(0.5, "66.7"), (2.0, "100.0"),
                                                   (0.25, "33.3"), (-1.0, "0.0")])
def test_error_equal_to_the_tolerance_is_a_hit(tmp_path, capfd, acc_precision, percent):
    # acc_type and loss_type play no part in evaluation
    model = write_linear_model(tmp_path / "m.json", TWO_LAYERS, acc_precision=acc_precision,
                               acc_type="other", loss_type="other")
    brenik.evaluate_linear_model(model, X, Y)
    assert printed_lines(capfd)[-1] == f"Validation MSE: 0.833, Accuracy {percent}%"


@pytest.mark.parametrize("output_type, x, y", [
    ("relu", X, Y),                                    # no output step: no predictions
    ("linear", np.zeros((0, 2), np.float32), f32([])),  # no samples
])
def test_linear_summary_without_predictions_is_nan(capfd, output_type, x, y):
    brenik.evaluate_linear_model(brenik.create_linear_model(output_type, ""), x, y)
    assert printed_lines(capfd) == ["Validation MSE: NaN, Accuracy NaN%"]


def test_many_samples_print_whole_lines_in_order(capfd):
    rng = np.random.default_rng(7)
    n = 10000
    x = rng.normal(0, 3, size=(n, 1)).astype(np.float32)
    y = rng.normal(0, 3, size=n).astype(np.float32)
    brenik.evaluate_linear_model(brenik.create_linear_model("linear", ""), x, y)
    lines = printed_lines(capfd)
    errors = np.abs(y - x[:, 0])  # float32 arithmetic, as the library does it
    total, hits = np.float32(0.0), 0
    for e in errors:
        total = np.float32(total + e)
        hits += bool(e <= np.float32(1.0))
    expected = [f"True: {fixed(t, 3)}, Predicted: {fixed(p, 3)}, Error {fixed(e, 3)}"
                for t, p, e in zip(y, x[:, 0], errors)]
    mean = total / np.float32(n)
    percent = (np.float32(hits) / np.float32(n)) * np.float32(100.0)
    expected.append(f"Validation MSE: {fixed(mean, 3)}, Accuracy {fixed(percent, 1)}%")
    assert lines == expected


# --- categorical -------------------------------------------------------------------

def test_categorical_lines_use_the_certainty_of_the_true_class(tmp_path, capfd):
    identity = dense_layer(np.eye(3), [0, 0, 0])
    model = write_categorical_model(tmp_path / "m.json", [identity])
    brenik.evaluate_categorical_model(model, LOG_P, i32([1, 1]))
    assert printed_lines(capfd) == [
        "True: 1, Predicted: 1, Certainty: 70.0%",
        "True: 1, Predicted: 0, Certainty: 30.0%",
        "Validation accuracy 50.0%",
    ]


@pytest.mark.parametrize("output_type, acc_type, expected", [
    ("softmax", "other", ["True: 1, Predicted: 1, Certainty: 70.0%",
                          "True: 1, Predicted: 0, Certainty: 30.0%",
                          "Validation accuracy 0.0%"]),
    ("linear", "categorical", ["Validation accuracy NaN%"]),
    ("linear", "other", ["Validation accuracy 0.0%"]),
])
def test_categorical_summary_rules(tmp_path, capfd, output_type, acc_type, expected):
    model = write_categorical_model(tmp_path / "m.json", [], output_type=output_type,
                                    acc_type=acc_type)
    brenik.evaluate_categorical_model(model, LOG_P, i32([1, 1]))
    assert printed_lines(capfd) == expected


def test_categorical_without_samples_is_nan(capfd):
    brenik.evaluate_categorical_model(brenik.create_categorical_model("softmax", ""),
                                      np.zeros((0, 3), np.float32), i32([]))
    assert printed_lines(capfd) == ["Validation accuracy NaN%"]


@pytest.mark.parametrize("bad_class", [3, -1])
def test_class_index_out_of_range_fails_at_its_sample(capfd, bad_class):
    x = np.concatenate([LOG_P, LOG_P])
    y = i32([1, 0, bad_class, 1])
    message = expect_panic(brenik.evaluate_categorical_model,
                           brenik.create_categorical_model("softmax", ""), x, y)
    assert f"class index {bad_class} of sample 2" in message
    assert printed_lines(capfd) == ["True: 1, Predicted: 1, Certainty: 70.0%",
                                    "True: 0, Predicted: 0, Certainty: 60.0%"]


# --- failures before any line ----------------------------------------------------------

@pytest.mark.parametrize("rows, targets", [(3, 2), (3, 4), (0, 1)])
def test_sample_count_mismatch_is_refused_before_any_line(capfd, rows, targets):
    message = f"sample count mismatch: val_x has {rows} rows but val_y has {targets} entries"
    x = np.zeros((rows, 3), np.float32)
    assert expect_panic(brenik.evaluate_linear_model, brenik.create_linear_model("linear", ""),
                        x, f32(np.zeros(targets))) == message
    assert expect_panic(brenik.evaluate_categorical_model,
                        brenik.create_categorical_model("softmax", ""), x,
                        i32(np.zeros(targets))) == message
    assert printed_lines(capfd) == []


def test_model_never_trained_fails_before_any_line(capfd):
    model = brenik.add_linear_model_layer(brenik.create_linear_model("linear", ""), 2, 1, "dense")
    expect_panic(brenik.evaluate_linear_model, model, X, Y)
    cat = brenik.add_categorical_model_layer(brenik.create_categorical_model("softmax", ""),
                                             3, 3, "dense")
    expect_panic(brenik.evaluate_categorical_model, cat, LOG_P, i32([1, 1]))
    assert printed_lines(capfd) == []


def test_inputs_of_the_wrong_width_fail_before_any_line(tmp_path, capfd):
    model = write_linear_model(tmp_path / "m.json", TWO_LAYERS)
    expect_panic(brenik.evaluate_linear_model, model, np.zeros((3, 5), np.float32), Y)
    assert printed_lines(capfd) == []


def test_evaluation_leaves_its_arguments_unchanged(tmp_path, capfd):
    model = write_linear_model(tmp_path / "m.json", TWO_LAYERS)
    x, y = X.copy(), Y.copy()
    brenik.evaluate_linear_model(model, x, y)
    first = printed_lines(capfd)
    brenik.evaluate_linear_model(model, x, y)
    assert printed_lines(capfd) == first
    np.testing.assert_array_equal(x, X)
    np.testing.assert_array_equal(y, Y)


# --- standard output and Ctrl-C -----------------------------------------------------------

def test_failed_write_to_stdout_raises_panic():
    script = textwrap.dedent("""
        import os, sys, numpy as np, brenik
        os.close(1)
        try:
            brenik.evaluate_categorical_model(brenik.create_categorical_model("softmax", ""),
                                              np.zeros((2, 2), np.float32),
                                              np.array([0, 1], np.int32))
        except BaseException as e:
            sys.stderr.write(type(e).__name__ + ": " + str(e) + "\\n")
            sys.exit(3)
    """)
    result = run_python(script)
    assert result.returncode == 3, result.stderr
    assert result.stderr.splitlines()[-1] == \
        "PanicException: failed printing to stdout: Bad file descriptor (os error 9)"


def test_ctrl_c_ends_an_evaluation_blocked_on_a_full_pipe():
    # The child prints far more than a pipe holds; the parent stops reading, so
    # the child waits in write() when SIGINT arrives.
    script = textwrap.dedent("""
        import numpy as np, brenik
        x = np.zeros((1_000_000, 1), np.float32)
        brenik.evaluate_linear_model(brenik.create_linear_model("linear", ""), x, x[:, 0])
    """)
    child = subprocess.Popen(**python_child(script))
    try:
        assert child.stdout.readline().startswith("True: 0.000")
        time.sleep(0.5)
        child.send_signal(signal.SIGINT)
        rest = child.stdout.read()
        err = child.stderr.read()
        child.wait(timeout=60)
    finally:
        child.kill()
    assert child.returncode != 0
    assert err.rstrip().endswith("KeyboardInterrupt")
    assert "Validation MSE" not in rest
