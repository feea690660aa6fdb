"""Nothing leaks: every function called 10,000 times, with arguments that work
and with arguments that fail, leaves the arguments' reference counts, the
process's resident memory and its open file descriptors where they were."""

import json
import os
import subprocess

import pytest

from model_files import python_child

# Runs in a child interpreter so that the measurement sees only these calls.
# Prints one JSON object per function and outcome.
LEAK_SCRIPT = r"""
import gc, json, os, sys
import numpy as np
import brenik

work = sys.argv[1]
calls = int(sys.argv[2])
os.chdir(work)
page = os.sysconf("SC_PAGE_SIZE")

def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * page

def open_fds():
    return len(os.listdir("/proc/self/fd"))

rng = np.random.default_rng(0)
x = rng.uniform(-1, 1, (8, 3)).astype(np.float32)
y = (x @ np.float32([1, -1, 0.5])).astype(np.float32)
labels = (np.arange(8) % 2).astype(np.int32)
val_x = x[:4].copy()
val_y = y[:4].copy()
val_labels = labels[:4].copy()
bad_labels = labels.copy()
bad_labels[5] = 7
no_validation = np.zeros((0, 0), np.float32)

linear_path = os.path.join(work, "linear.json")
categorical_path = os.path.join(work, "categorical.json")
garbage_path = os.path.join(work, "garbage.json")
with open(garbage_path, "w") as f:
    f.write('{"layers":[{"layer_type":"dense"}],"output_type":')

linear = brenik.create_linear_model("linear", linear_path)
linear = brenik.add_linear_model_layer(linear, 3, 4, "dense", "relu")
linear = brenik.add_linear_model_layer(linear, 0, 0, "dropout", None, 0.25)
linear = brenik.add_linear_model_layer(linear, 4, 1, "dense")
categorical = brenik.create_categorical_model("softmax", categorical_path)
categorical = brenik.add_categorical_model_layer(categorical, 3, 2, "dense")
adam = brenik.create_optimizer("adam", 0.05, 0.01)
sgd = brenik.create_optimizer("sgd", 0.05, 0.0)
# Two epochs: the second improves on the first and writes the file.
brenik.train_linear_model(linear, adam, 2, 1, x, y, val_x, val_y)
brenik.train_categorical_model(categorical, sgd, 2, 1, x, labels, val_x, val_labels)
trained_linear = brenik.load_linear_model(linear_path)
trained_categorical = brenik.load_categorical_model(categorical_path)
# Saving costs file-system time; the linear calls cover it.
unsaved_categorical = brenik.add_categorical_model_layer(
    brenik.create_categorical_model("softmax", ""), 3, 2, "dense")

B = brenik
CASES = {
    "create_linear_model": [("linear", "m.json"), ("linear", 1)],
    "create_categorical_model": [("softmax", "m.json"), ("soft\udc80max", "")],
    "add_linear_model_layer": [(linear, 3, 4, "dense", "relu", 0.5), (linear, 2.0)],
    "add_categorical_model_layer": [(categorical, 3, 4, "dropout", None, 0.1),
                                    (categorical, -1)],
    "create_optimizer": [("tf_adam", 0.01, 0.001), ("adam", "0.01", 0.0)],
    "train_linear_model": [(linear, adam, 2, 1, x, y, val_x, val_y),
                           (linear, adam, 2, 0, x, y, val_x, val_y),
                           (linear, adam, 2, 1, x, y[:5], val_x, val_y),
                           (linear, adam, 2, 1, x, y, val_x, val_labels),
                           (trained_categorical, adam, 2, 1, x, y, val_x, val_y)],
    "train_categorical_model": [(unsaved_categorical, sgd, 2, 1, x, labels, no_validation,
                                 labels[:0]),
                                (categorical, sgd, 2, 1, x, bad_labels, val_x, val_labels),
                                (categorical, sgd, 70000, 1, x, labels, val_x, val_labels)],
    "load_linear_model": [(linear_path,), (garbage_path,), (work,)],
    "evaluate_linear_model": [(trained_linear, val_x, val_y), (linear, val_x, val_y),
                              (trained_linear, val_x, val_y[:1])],
    "load_categorical_model": [(categorical_path,), ("missing.json",)],
    "evaluate_categorical_model": [(trained_categorical, val_x, val_labels),
                                   (trained_categorical, val_x, bad_labels[:4] + 5),
                                   (trained_categorical, x, y)],
}

def run(function, args, times):
    for _ in range(times):
        try:
            function(*args)
        except BaseException:
            pass

# The printed lines and panic diagnostics of 10,000 calls go nowhere.
devnull = os.open(os.devnull, os.O_WRONLY)
saved = os.dup(1), os.dup(2)
results = []
for name, variants in CASES.items():
    function = getattr(brenik, name)
    for index, args in enumerate(variants):
        os.dup2(devnull, 1)
        os.dup2(devnull, 2)
        run(function, args, calls // 10)  # warm-up: caches, free lists, arenas
        gc.collect()
        refs = [sys.getrefcount(a) for a in args]
        memory, fds = rss(), open_fds()
        run(function, args, calls)
        gc.collect()
        after_refs = [sys.getrefcount(a) for a in args]
        after_memory, after_fds = rss(), open_fds()
        os.dup2(saved[0], 1)
        os.dup2(saved[1], 2)
        results.append({"call": f"{name}#{index}", "refs": refs, "after_refs": after_refs,
                        "rss_growth": after_memory - memory, "fd_growth": after_fds - fds})
print(json.dumps(results))
"""

CALLS = 10_000


def under_address_sanitizer():
    return "libasan" in os.environ.get("LD_PRELOAD", "")


@pytest.fixture(scope="module")
def measurements(tmp_path_factory):
    child = python_child(LEAK_SCRIPT)
    # Under the sanitizer, memory is laid out its own way (shadow pages, caches
    # per size class), so resident memory says nothing; a tenth of the calls
    # still shows a reference kept per call.
    calls = CALLS // 10 if under_address_sanitizer() else CALLS
    child["args"] += [str(tmp_path_factory.mktemp("leaks")), str(calls)]
    result = subprocess.run(**child, timeout=600)
    assert result.returncode == 0, result.stderr
    # The last line; the lines before it are the set-up's training lines.
    entries = json.loads(result.stdout.splitlines()[-1])
    return calls, {entry["call"]: entry for entry in entries}


NAMES = ["create_linear_model#0", "create_linear_model#1", "create_categorical_model#0",
         "create_categorical_model#1", "add_linear_model_layer#0", "add_linear_model_layer#1",
         "add_categorical_model_layer#0", "add_categorical_model_layer#1", "create_optimizer#0",
         "create_optimizer#1"] + [f"train_linear_model#{i}" for i in range(5)] + \
        [f"train_categorical_model#{i}" for i in range(3)] + \
        [f"load_linear_model#{i}" for i in range(3)] + \
        [f"evaluate_linear_model#{i}" for i in range(3)] + \
        [f"load_categorical_model#{i}" for i in range(2)] + \
        [f"evaluate_categorical_model#{i}" for i in range(3)]


@pytest.mark.parametrize("call", NAMES)
def test_repeated_calls_leak_nothing(measurements, call):
    calls, entries = measurements
    entry = entries[call]
    for before, after in zip(entry["refs"], entry["after_refs"]):
        if before > 1000:
            # None and cached small ints are shared with the whole interpreter,
            # which moves their counts a little; a leak per call would not be little.
            assert abs(after - before) < calls // 2
        else:
            assert after == before, entry
    assert entry["fd_growth"] == 0
    if not under_address_sanitizer():
        assert entry["rss_growth"] <= 1 << 20, entry["rss_growth"]


# A wide layer's products keep scratch storage from epoch to epoch (the group
# sums of its weight gradient); the call must free it when it ends.
LARGE_CALL_SCRIPT = r"""
import ctypes, numpy as np, brenik

class MallInfo2(ctypes.Structure):
    _fields_ = [(name, ctypes.c_size_t) for name in
                ("arena", "ordblks", "smblks", "hblks", "hblkhd", "usmblks", "fsmblks",
                 "uordblks", "fordblks", "keepcost")]

libc = ctypes.CDLL(None)
libc.mallinfo2.restype = MallInfo2

def allocated():
    # What is allocated and not freed: resident memory would also count what
    # the allocator keeps for later after a free.
    info = libc.mallinfo2()
    return info.uordblks + info.hblkhd

def train(width, samples):
    x = np.random.default_rng(0).uniform(-1, 1, (samples, 512)).astype(np.float32)
    model = brenik.create_linear_model("linear", "")
    model = brenik.add_linear_model_layer(model, 512, width, "dense", "relu")
    model = brenik.add_linear_model_layer(model, 0, 0, "dropout", None, 0.1)
    model = brenik.add_linear_model_layer(model, width, 1, "dense")
    brenik.train_linear_model(model, brenik.create_optimizer("sgd", 0.01, 0.0), 2, 1000, x,
                              x[:, 0].copy(), np.zeros((0, 0), np.float32), x[:0, 0].copy())

train(8, 4000)  # the BLAS's own buffers, the thread pool
before = allocated()
train(2048, 4000)
print(allocated() - before)
"""


def test_a_large_training_call_frees_its_storage_when_it_ends():
    if under_address_sanitizer():
        pytest.skip("the sanitizer's allocator keeps its own account")
    result = subprocess.run(**python_child(LARGE_CALL_SCRIPT), timeout=300)
    assert result.returncode == 0, result.stderr
    # The weight gradient alone is 4 MB; its group sums would be ten times that.
    assert int(result.stdout.split()[-1]) < 8 << 20
