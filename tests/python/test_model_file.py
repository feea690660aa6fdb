"""Model files through the module: load failures, model kinds across the two
loaders, copies edited by hand, and saving that never loses the previous file."""

import json
import subprocess
import textwrap

import numpy as np
import pytest

import brenik
from model_files import (NO_VALIDATION, dense_layer, expect_panic, f32, i32, python_child,
                         read_model_file, run_python)


def train_one_layer(path, epochs=2, print_freq=1000):
    """Trains a one-layer regression model, which writes `path`."""
    x = f32([[1.0, 2.0], [2.0, 1.0], [0.5, 0.5]])
    y = f32([1.0, 2.0, 0.0])
    model = brenik.create_linear_model("linear", str(path))
    model = brenik.add_linear_model_layer(model, 2, 1, "dense")
    opt = brenik.create_optimizer("sgd", 0.01, 0.0)
    brenik.train_linear_model(model, opt, epochs, print_freq, x, y, NO_VALIDATION, f32([]))


def linear_record(layers=(), **changes):
    record = {"layers": list(layers), "output_type": "linear", "loss_type": "mean_squared_error",
              "acc_type": "linear", "acc_precision": 1.0, "save_best_params": "m.json"}
    record.update(changes)
    return record


@pytest.mark.parametrize("name, message", [
    ("missing.json", "No such file or directory (os error 2)"),
    ("", "Is a directory (os error 21)"),  # the directory itself
])
@pytest.mark.parametrize("load", [brenik.load_linear_model, brenik.load_categorical_model])
def test_unopenable_files_carry_the_os_error(tmp_path, load, name, message):
    assert message in expect_panic(load, str(tmp_path / name))


def test_empty_path_carries_the_os_error():
    assert "No such file or directory (os error 2)" in expect_panic(brenik.load_linear_model, "")


@pytest.mark.parametrize("text, message", [
    ("", "EOF while parsing a value at line 1 column 1"),
    (json.dumps(linear_record()) + "\n{}", "trailing characters at line 2 column 1"),
    (json.dumps(linear_record(acc_precision="1")), "invalid type: string, expected a number"),
    (json.dumps(linear_record(save_best_params=None)), "invalid type: null, expected a string"),
    (json.dumps({k: v for k, v in linear_record().items() if k != "loss_type"}),
     "missing field `loss_type`"),
    ('{"layers":[],"layers":[]}', "duplicate field `layers` at line 1 column 14"),
])
def test_bad_contents_carry_the_position(tmp_path, text, message):
    path = tmp_path / "m.json"
    path.write_text(text)
    assert message in expect_panic(brenik.load_linear_model, str(path))


def test_layer_faults_carry_the_position(tmp_path):
    layer = dense_layer([[1.0], [2.0]], [0.5])
    del layer["binary_mask"]
    path = tmp_path / "m.json"
    path.write_text(json.dumps(linear_record([layer])))
    assert "missing field `binary_mask` at line 1 column " in expect_panic(
        brenik.load_linear_model, str(path))

    layer = dense_layer([[1.0], [2.0]], [0.5])
    layer["weights"]["v"] = 2
    path.write_text(json.dumps(linear_record([layer])))
    assert "unsupported array version 2" in expect_panic(brenik.load_linear_model, str(path))


def test_kinds_across_the_two_loaders(tmp_path):
    linear = tmp_path / "linear.json"
    train_one_layer(linear)
    # acc_precision is an unknown key to the categorical loader: skipped.
    assert type(brenik.load_categorical_model(str(linear))).__name__ == "CategoricalModel"

    categorical = tmp_path / "categorical.json"
    record = read_model_file(linear)
    del record["acc_precision"]
    categorical.write_text(json.dumps(record))
    brenik.load_categorical_model(str(categorical))
    assert "missing field `acc_precision`" in expect_panic(brenik.load_linear_model,
                                                           str(categorical))


def test_pretty_printed_copy_with_comments_loads_and_evaluates_alike(tmp_path, capfd):
    path = tmp_path / "m.json"
    train_one_layer(path)
    record = read_model_file(path)
    record["comment"] = {"trained": [1, 2, {"by": None}]}
    record["layers"][0]["note"] = "kept by hand"
    pretty = tmp_path / "pretty.json"
    pretty.write_text(json.dumps(record, indent=4) + "\n")
    capfd.readouterr()

    val_x, val_y = f32([[1.0, 1.0], [3.0, 0.0]]), f32([1.0, 2.0])
    brenik.evaluate_linear_model(brenik.load_linear_model(str(path)), val_x, val_y)
    original = capfd.readouterr().out
    brenik.evaluate_linear_model(brenik.load_linear_model(str(pretty)), val_x, val_y)
    assert capfd.readouterr().out == original


def test_file_with_non_finite_values_loads_back(tmp_path):
    # NaN and infinities are written as null; such a file must load again.
    layer = dense_layer([[1.0], [2.0]], [0.5])
    layer["weights"]["data"] = [None, 1.0]
    layer["dropout_rate"] = None
    path = tmp_path / "m.json"
    path.write_text(json.dumps(linear_record([layer], acc_precision=None)))
    brenik.load_linear_model(str(path))

    layer["n_inputs"] = None  # null stays an error for integers and texts
    path.write_text(json.dumps(linear_record([layer])))
    assert "invalid type: null, expected an unsigned integer" in expect_panic(
        brenik.load_linear_model, str(path))


def test_training_into_a_missing_directory_panics_at_the_first_improvement(tmp_path, capfd):
    message = expect_panic(train_one_layer, tmp_path / "missing" / "m.json", 5, 5)
    assert "No such file or directory (os error 2)" in message
    # Epoch 2 is the first to improve on epoch 1; the run ends there.
    assert [line[:11] for line in capfd.readouterr().out.splitlines()] == [
        "epoch:    1", "epoch:    2"]


def test_failed_save_keeps_the_previous_file_and_training_goes_on(tmp_path):
    # A child limited to a file size far below the model's: its saves fail
    # with EFBIG (CPython ignores SIGXFSZ), as they would on a full disk.
    path = tmp_path / "m.json"
    previous = json.dumps(linear_record(save_best_params=str(path)))
    path.write_text(previous)
    script = textwrap.dedent(f"""
        import resource, numpy as np, brenik
        x = np.random.default_rng(0).uniform(-1, 1, (5000, 8)).astype(np.float32)
        y = x[:, 0].copy()  # the inputs alone need some 400 kB of text
        model = brenik.create_linear_model("linear", {str(path)!r})
        model = brenik.add_linear_model_layer(model, 8, 1, "dense")
        opt = brenik.create_optimizer("sgd", 0.01, 0.0)
        resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))
        brenik.train_linear_model(model, opt, 3, 1000, x, y, np.zeros((0, 0), np.float32),
                                  y[:0])
        print("training returned")
    """)
    result = run_python(script)
    assert result.returncode == 0, result.stderr
    assert result.stdout.endswith("training returned\n")
    warnings = result.stderr.splitlines()
    assert warnings, result.stderr
    assert all(w == f"brenik: warning: could not write model file {path}: File too large "
               "(os error 27); the previous file is unchanged" for w in warnings), warnings
    assert path.read_text() == previous
    assert sorted(p.name for p in tmp_path.iterdir()) == ["m.json"]  # no temporary file left
    brenik.load_linear_model(str(path))


SAVE_THEN_FAIL_SCRIPT = """
import resource, sys, numpy as np, brenik
path, kind = sys.argv[1], sys.argv[2]
x = np.random.default_rng(0).uniform(-1, 1, (200, 4)).astype(np.float32)
if kind == "linear":
    y = x.sum(axis=1).astype(np.float32)
    model = brenik.create_linear_model("linear", path)
    model = brenik.add_linear_model_layer(model, 4, 1, "dense")
    train, load = brenik.train_linear_model, brenik.load_linear_model
else:
    y = (x[:, 0] > 0).astype(np.int32)
    model = brenik.create_categorical_model("softmax", path)
    model = brenik.add_categorical_model_layer(model, 4, 2, "dense")
    train, load = brenik.train_categorical_model, brenik.load_categorical_model
opt = brenik.create_optimizer("adam", 0.05, 0.0)

def run():  # a line every epoch
    train(model, opt, 5, 5, x, y, np.zeros((0, 0), np.float32), y[:0])

def report(text):
    print(text, flush=True)

run()
first = open(path, "rb").read()
soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
resource.setrlimit(resource.RLIMIT_FSIZE, (len(first) // 2, hard))
run()  # every save stops half-way through the file
report("kept" if open(path, "rb").read() == first else "changed")
load(path)
resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))
run()
report("replaced" if open(path, "rb").read() != first else "same")
load(path)
"""


@pytest.mark.parametrize("kind", ["linear", "categorical"])
def test_save_failing_half_way_keeps_the_last_good_file_and_training_goes_on(tmp_path, kind):
    # The first run writes the file; under a file-size limit of half its size
    # the next run's saves fail part-way (EFBIG; CPython ignores SIGXFSZ), and
    # once the limit is lifted saves replace the file again.
    path = tmp_path / "m.json"
    child = python_child(SAVE_THEN_FAIL_SCRIPT)
    child["args"] += [str(path), kind]
    result = subprocess.run(**child, timeout=120)
    assert result.returncode == 0, result.stderr
    lines = result.stdout.splitlines()
    epochs = [int(line[6:11]) for line in lines if line.startswith("epoch:")]
    assert epochs == [1, 2, 3, 4, 5] * 3  # the second run trained on through its failed saves
    assert [line for line in lines if not line.startswith("epoch:")] == ["kept", "replaced"]
    warnings = result.stderr.splitlines()
    assert warnings, "no save failed"
    assert all(w == f"brenik: warning: could not write model file {path}: File too large "
               "(os error 27); the previous file is unchanged" for w in warnings), warnings
    assert sorted(p.name for p in tmp_path.iterdir()) == ["m.json"]  # no temporary file left
