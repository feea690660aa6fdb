"""Faults from outside: Ctrl-C from another process during a long training
run, several Python threads training and evaluating at once, and model files
cut short at every byte."""

import array
import fcntl
import os
import re
import signal
import subprocess
import termios
import threading

import numpy as np
import pytest

import brenik
from model_files import NO_VALIDATION, f32, i32, python_child, read_model_file

# --- SIGINT from another process ---------------------------------------------------

# Epochs of a few hundred milliseconds, so that a run of 65535 takes hours.
LONG_TRAINING = """
import sys, numpy as np, brenik
rng = np.random.default_rng(0)
x = rng.uniform(-1, 1, (1024, 256)).astype(np.float32)
y = x[:, :8].sum(axis=1).astype(np.float32)
model = brenik.create_linear_model("linear", sys.argv[1])
model = brenik.add_linear_model_layer(model, 256, 512, "dense", "relu")
model = brenik.add_linear_model_layer(model, 512, 1, "dense")
try:
    # print_freq = num_epochs: one line every epoch, for hours
    brenik.train_linear_model(model, brenik.create_optimizer("adam", 0.001, 0.0), 65535, 65535,
                              x, y, np.zeros((0, 0), np.float32), y[:0])
except KeyboardInterrupt:
    sys.stderr.write("KeyboardInterrupt\\n")
    sys.exit(3)
"""


def unread_bytes(fd):
    count = array.array("i", [0])
    fcntl.ioctl(fd, termios.FIONREAD, count)
    return count[0]


def test_sigint_ends_training_with_keyboard_interrupt_within_an_epoch(tmp_path):
    path = tmp_path / "m.json"
    child = python_child(LONG_TRAINING)
    child.update(args=child["args"] + [str(path)], text=False, bufsize=0)
    process = subprocess.Popen(**child)
    try:
        fd = process.stdout.fileno()
        read = b""
        while read.count(b"\n") < 3:  # epochs 2 and 3 had the chance to write the file
            chunk = os.read(fd, 1 << 16)
            assert chunk, process.stderr.read()
            read += chunk
        process.send_signal(signal.SIGINT)
        # Lines the child had written when the signal went out: those read and
        # those still in the pipe (each line is one write, so they are whole).
        in_pipe = unread_bytes(fd)
        rest = process.stdout.read()
        stderr = process.stderr.read().decode()
        assert process.wait(timeout=60) == 3, stderr
    finally:
        process.kill()
        process.wait()
    assert stderr.endswith("KeyboardInterrupt\n"), stderr
    lines_at_signal = (read + rest[:in_pipe]).count(b"\n")
    epochs = [int(re.match(rb"epoch: +(\d+),", line)[1]) for line in (read + rest).splitlines()]
    assert epochs == list(range(1, len(epochs) + 1))
    # The epoch under way when the signal came may still print its line; the
    # next epoch boundary ends the run.
    assert len(epochs) <= lines_at_signal + 1, (lines_at_signal, epochs)
    saved = brenik.load_linear_model(str(path))  # whole, from before the interrupt
    assert type(saved).__name__ == "LinearModel"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["m.json"]  # no temporary left


# --- threads ---------------------------------------------------------------------------

def thread_data(index):
    """Each thread has its own sizes, so that its lines can be told apart."""
    rng = np.random.default_rng(index)
    features = 2 + index
    x = rng.uniform(-1, 1, (12 + index, features)).astype(np.float32)
    val_x = x[:3 + index].copy()
    if index % 2 == 0:
        y = (x.sum(axis=1) * 0.5).astype(np.float32)
        return features, x, y, val_x, y[:3 + index].copy()
    labels = (x[:, 0] > 0).astype(np.int32)
    return features, x, labels, val_x, labels[:3 + index].copy()


def thread_work(index, path, rounds, barrier, failures):
    features, x, y, val_x, val_y = thread_data(index)
    epochs = 10 + index
    try:
        barrier.wait()
        for _ in range(rounds):
            if index % 2 == 0:
                model = brenik.create_linear_model("linear", str(path))
                model = brenik.add_linear_model_layer(model, features, 4, "dense", "relu")
                model = brenik.add_linear_model_layer(model, 4, 1, "dense")
                brenik.train_linear_model(model, brenik.create_optimizer("adam", 0.05, 0.0),
                                          epochs, epochs, x, y, NO_VALIDATION, f32([]))
                brenik.evaluate_linear_model(brenik.load_linear_model(str(path)), val_x, val_y)
            else:
                model = brenik.create_categorical_model("softmax", str(path))
                model = brenik.add_categorical_model_layer(model, features, 2, "dense")
                brenik.train_categorical_model(model, brenik.create_optimizer("adam", 0.05, 0.0),
                                               epochs, epochs, x, y, NO_VALIDATION, i32([]))
                brenik.evaluate_categorical_model(brenik.load_categorical_model(str(path)),
                                                  val_x, val_y)
    except BaseException as error:  # noqa: B036 - reported to the main thread
        failures.append((index, error))


def split_into_blocks(lines):
    """The output as the blocks of single calls: a training block is epochs
    1..n, an evaluation block its sample lines and summary."""
    blocks = []
    for line in lines:
        if line.startswith("epoch:"):
            epoch = int(line[6:11])
            if epoch == 1:
                blocks.append(["train"])
            assert blocks and blocks[-1][0] == "train" and len(blocks[-1]) == epoch, line
            blocks[-1].append(line)
        elif line.startswith("True: "):
            if not blocks or blocks[-1][0] != "evaluate" or blocks[-1][-1].startswith("Valid"):
                blocks.append(["evaluate"])
            blocks[-1].append(line)
        else:
            assert line.startswith("Validation "), line
            assert blocks and blocks[-1][0] == "evaluate", line
            blocks[-1].append(line)
    return blocks


def test_threads_training_and_evaluating_at_once(tmp_path, capfd):
    threads_count, rounds = 4, 3
    paths = [tmp_path / f"model{i}.json" for i in range(threads_count)]
    barrier = threading.Barrier(threads_count)
    failures = []
    threads = [threading.Thread(target=thread_work, args=(i, paths[i], rounds, barrier, failures))
               for i in range(threads_count)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(timeout=120)
    assert not failures, failures
    out = capfd.readouterr().out
    assert out.endswith("\n")

    # Each call holds the interpreter's lock from entry to return, so the
    # calls' lines never mix: the output is a sequence of whole blocks.
    blocks = split_into_blocks(out.splitlines())
    training = sorted(len(b) - 1 for b in blocks if b[0] == "train")
    assert training == sorted([10 + i for i in range(threads_count)] * rounds)
    evaluations = [b[1:] for b in blocks if b[0] == "evaluate"]
    assert len(evaluations) == threads_count * rounds

    # The files: each holds its own thread's model, and its last evaluation
    # printed what evaluating that file prints now.
    for index, path in enumerate(paths):
        features, _, _, val_x, val_y = thread_data(index)
        stored = read_model_file(path)
        assert stored["save_best_params"] == str(path)
        assert stored["layers"][0]["n_inputs"] == features
        if index % 2 == 0:
            brenik.evaluate_linear_model(brenik.load_linear_model(str(path)), val_x, val_y)
        else:
            brenik.evaluate_categorical_model(brenik.load_categorical_model(str(path)),
                                              val_x, val_y)
        expected = capfd.readouterr().out.splitlines()
        assert len(expected) == len(val_x) + 1
        assert expected in evaluations
    assert sorted(p.name for p in tmp_path.iterdir()) == sorted(p.name for p in paths)


# --- model files cut short --------------------------------------------------------------

@pytest.fixture(scope="module")
def small_model_file(tmp_path_factory):
    path = tmp_path_factory.mktemp("whole") / "m.json"
    x = f32([[1.0, 2.0], [2.0, 1.0], [0.5, -0.5]])
    model = brenik.create_linear_model("linear", str(path))
    model = brenik.add_linear_model_layer(model, 2, 2, "dense", "relu")
    model = brenik.add_linear_model_layer(model, dropout_rate=0.5, layer_type="dropout")
    model = brenik.add_linear_model_layer(model, 2, 1, "dense")
    for _ in range(20):  # until some epoch improves on the first and writes the file
        brenik.train_linear_model(model, brenik.create_optimizer("adam", 0.05, 0.0), 5, 1000,
                                  x, f32([1.0, 2.0, 0.0]), NO_VALIDATION, f32([]))
        if path.exists():
            return path.read_bytes()
    pytest.fail("training never wrote the model file")


def test_model_file_cut_at_every_byte_fails_to_load(tmp_path, small_model_file):
    path = tmp_path / "cut.json"
    path.write_bytes(small_model_file)
    brenik.load_linear_model(str(path))
    brenik.load_categorical_model(str(path))
    for length in reversed(range(len(small_model_file))):
        os.truncate(path, length)
        for load in (brenik.load_linear_model, brenik.load_categorical_model):
            with pytest.raises(BaseException) as info:
                load(str(path))
            assert type(info.value).__name__ == "PanicException", (length, repr(info.value))
            assert re.search(r" at line 1 column \d+$", str(info.value)), (length, info.value)
