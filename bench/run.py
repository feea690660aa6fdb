"""Per-epoch training time of brenik against the alternatives a user would pick.

Runs, interleaved in one process: brenik, a vectorised NumPy float32 loop of the
same full-batch "adam" training (validation pass included), PyTorch on the CPU,
and scikit-learn's MLP run full batch. Prints medians with their spread (half
the range, relative to the median) and the ratio of each to brenik, plus the
epoch's matrix products alone as whole-matrix calls of brenik's own OpenBLAS
on every core, with and without the first layer's input gradient (which
training discards). brenik's rows give its GFLOP/s: the multiply-adds of the
products its epoch computes, twice, over the epoch's time, beside the SGEMM
peak measured first (512 x 512 x 512 through brenik's OpenBLAS). Each timed
run starts after a short pause, so that the worker threads of the previous
runner's libraries have gone to sleep.
"brenik" is a whole training call with its model file (as users run it: the
file is the only way the trained model leaves the call), divided by its
epochs; "brenik+1" is what each further epoch costs (a call of E epochs minus
a call of 1, over E - 1); "no file" is the call without a model file.
Then model-file throughput and the peak memory of a large training call.

    python bench/run.py [--quick] [--only training|file|memory] [--workloads W1,W3]
                        [--runners numpy,torch,sklearn]
"""

import argparse
import ctypes
import gc
import json
import os
import pathlib
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import warnings

import numpy as np

import brenik

try:
    import torch
except ImportError:  # the table then says so
    torch = None
try:
    from sklearn.exceptions import ConvergenceWarning
    from sklearn.neural_network import MLPClassifier, MLPRegressor
except ImportError:
    MLPClassifier = None
try:
    import orjson
except ImportError:
    orjson = None

LR = 0.001
PAUSE = 0.3  # seconds before each timed run: other libraries' threads stop spinning


class Workload:
    def __init__(self, name, kind, n, n_val, sizes, epochs, reps):
        self.name, self.kind, self.sizes = name, kind, sizes
        self.epochs, self.reps = epochs, reps
        rng = np.random.default_rng(7)
        self.x = rng.standard_normal((n, sizes[0]), dtype=np.float32)
        self.val_x = rng.standard_normal((n_val, sizes[0]), dtype=np.float32)
        if kind == "regression":
            w = rng.standard_normal(sizes[0]).astype(np.float32) / np.sqrt(sizes[0])
            self.y = np.tanh(self.x @ w).astype(np.float32)
            self.val_y = np.tanh(self.val_x @ w).astype(np.float32)
        else:
            classes = sizes[-1]
            w = rng.standard_normal((sizes[0], classes)).astype(np.float32)
            self.y = np.argmax(self.x @ w, axis=1).astype(np.int32)
            self.val_y = np.argmax(self.val_x @ w, axis=1).astype(np.int32)

    def describe(self):
        arrow = " -> ".join(str(s) for s in self.sizes)
        return f"{self.name} {self.kind} {self.x.shape[0]}x{arrow}"


def workloads(quick):
    scale = 0.2 if quick else 1.0
    reps = 3 if quick else 5

    def ep(n):
        return max(2, int(n * scale))

    return [
        Workload("W1", "regression", 10000, 2000, [20, 64, 64, 1], ep(50), reps),
        Workload("W2", "classification", 60000, 10000, [784, 128, 10], ep(5), reps),
        Workload("W3", "classification", 300, 100, [2, 64, 3], ep(2000), reps),
        Workload("W4", "regression", 2000, 500, [512, 512, 512, 1], ep(20), reps),
    ]


# --- brenik ----------------------------------------------------------------------


MODEL_DIR = tempfile.mkdtemp(prefix="brenik-bench-")  # on the disk a user's files are on


def model_path(w):
    return os.path.join(MODEL_DIR, f"{w.name}.json")


def brenik_call(w, epochs, with_file=True):
    """Seconds of one training call of `epochs` epochs, writing its model file
    as every real training call does (or, with_file False, none at all)."""
    path = model_path(w) if with_file else ""
    if w.kind == "regression":
        create, add, train = (brenik.create_linear_model, brenik.add_linear_model_layer,
                              brenik.train_linear_model)
        model = create("linear", path)
    else:
        create, add, train = (brenik.create_categorical_model, brenik.add_categorical_model_layer,
                              brenik.train_categorical_model)
        model = create("softmax", path)
    last = len(w.sizes) - 2
    for i in range(last + 1):
        model = add(model, w.sizes[i], w.sizes[i + 1], "dense", "relu" if i < last else None)
    opt = brenik.create_optimizer("adam", LR, 0.0)
    # print_freq above num_epochs: no progress lines.
    start = time.perf_counter()
    train(model, opt, epochs, 65535, w.x, w.y, w.val_x, w.val_y)
    return time.perf_counter() - start


def brenik_epoch(w):
    return brenik_call(w, w.epochs) / w.epochs


def brenik_marginal_epoch(w):
    """What each epoch after the first costs: a call's fixed part (the owned
    copies of the samples, the first epoch's allocations, the file written at
    the end) taken out."""
    one = brenik_call(w, 1)
    return (brenik_call(w, w.epochs) - one) / (w.epochs - 1)


def brenik_epoch_without_file(w):
    return brenik_call(w, w.epochs, with_file=False) / w.epochs


# --- NumPy: the same loop, vectorised --------------------------------------------


def numpy_epoch(w):
    rng = np.random.default_rng(1)
    f32 = np.float32
    layers = []
    for i in range(len(w.sizes) - 1):
        W = (rng.standard_normal((w.sizes[i], w.sizes[i + 1])) * 0.01).astype(f32)
        layers.append({"W": W, "b": np.zeros(w.sizes[i + 1], f32),
                       "mW": np.zeros_like(W), "vW": np.zeros_like(W),
                       "mb": np.zeros(w.sizes[i + 1], f32), "vb": np.zeros(w.sizes[i + 1], f32)})
    b1, b2, eps = f32(0.9), f32(0.999), f32(1e-7)
    onehot = None if w.kind == "regression" else np.eye(w.sizes[-1], dtype=f32)[w.y]

    def forward(x, keep):
        out = x
        for i, layer in enumerate(layers):
            z = out @ layer["W"] + layer["b"]
            if keep:
                layer["in"], layer["z"] = out, z
            out = np.maximum(z, 0) if i < len(layers) - 1 else z
        if w.kind == "classification":
            e = np.exp(out - out.max(axis=1, keepdims=True))
            out = e / e.sum(axis=1, keepdims=True)
        return out

    def scores(out, y):
        if w.kind == "regression":
            d = y - out[:, 0]
            return float(np.mean(d * d)), float(np.mean(np.abs(d) <= 1.0))
        p = np.clip(out[np.arange(len(y)), y], f32(1e-7), f32(1 - 1e-7))
        return float(np.mean(-np.log(p))), float(np.mean(out.argmax(axis=1) == y))

    start = time.perf_counter()
    for epoch in range(1, w.epochs + 1):
        out = forward(w.x, True)
        scores(out, w.y)
        if w.kind == "regression":
            g = ((w.y[:, None] - out) * f32(-2.0)) / f32(out.shape[1]) / f32(out.shape[0])
        else:
            g = (out - onehot) / f32(out.shape[0])
        for i in reversed(range(len(layers))):
            layer = layers[i]
            if i < len(layers) - 1:
                g = np.where(layer["z"] > 0, g, f32(0))
            layer["dW"] = layer["in"].T @ g
            layer["db"] = g.sum(axis=0)
            if i > 0:
                g = g @ layer["W"].T
        t = f32(epoch)
        for layer in layers:
            for p, m, v, d in (("W", "mW", "vW", "dW"), ("b", "mb", "vb", "db")):
                layer[m] = layer[d] * (1 - b1) + layer[m] * b1
                m_hat = layer[m] / (1 - b1 ** t)
                layer[v] = layer[d] * layer[d] * (1 - b2) + layer[v] * b2
                v_hat = layer[v] / (1 - b2 ** t)
                layer[p] += (m_hat * f32(-LR)) / (np.sqrt(v_hat) + eps)
        scores(forward(w.val_x, False), w.val_y)
    return (time.perf_counter() - start) / w.epochs


# --- PyTorch -----------------------------------------------------------------------


def torch_epoch(w):
    torch.manual_seed(1)
    mods = []
    for i in range(len(w.sizes) - 1):
        mods.append(torch.nn.Linear(w.sizes[i], w.sizes[i + 1]))
        if i < len(w.sizes) - 2:
            mods.append(torch.nn.ReLU())
    net = torch.nn.Sequential(*mods)
    opt = torch.optim.Adam(net.parameters(), lr=LR, eps=1e-7)
    x, val_x = torch.from_numpy(w.x), torch.from_numpy(w.val_x)
    if w.kind == "regression":
        y, val_y = torch.from_numpy(w.y), torch.from_numpy(w.val_y)
        loss_fn = lambda out, t: torch.mean((out[:, 0] - t) ** 2)  # noqa: E731
        acc_fn = lambda out, t: ((out[:, 0] - t).abs() <= 1.0).float().mean()  # noqa: E731
    else:
        y, val_y = torch.from_numpy(w.y).long(), torch.from_numpy(w.val_y).long()
        loss_fn = torch.nn.functional.cross_entropy
        acc_fn = lambda out, t: (out.argmax(dim=1) == t).float().mean()  # noqa: E731
    start = time.perf_counter()
    for _ in range(w.epochs):
        opt.zero_grad()
        out = net(x)
        loss = loss_fn(out, y)
        with torch.no_grad():
            acc_fn(out, y)
        loss.backward()
        opt.step()
        with torch.no_grad():
            val_out = net(val_x)
            loss_fn(val_out, val_y), acc_fn(val_out, val_y)
    return (time.perf_counter() - start) / w.epochs


# --- scikit-learn ------------------------------------------------------------------


def sklearn_epoch(w):
    cls = MLPRegressor if w.kind == "regression" else MLPClassifier
    net = cls(hidden_layer_sizes=tuple(w.sizes[1:-1]), activation="relu", solver="adam",
              batch_size=w.x.shape[0], learning_rate_init=LR, max_iter=w.epochs, shuffle=False,
              tol=0.0, n_iter_no_change=w.epochs + 1, alpha=0.0, random_state=1)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", ConvergenceWarning)
        start = time.perf_counter()
        net.fit(w.x, w.y)
        net.score(w.val_x, w.val_y)
    return (time.perf_counter() - start) / w.epochs


# --- Lower bound: the epoch's products through brenik's OpenBLAS -------------------


def bundled_sgemm():
    """cblas_sgemm of the OpenBLAS that brenik itself loaded: the one in brenik.libs
    next to an installed module, or the wheel's library that a build tree links."""
    bundled = sorted((pathlib.Path(brenik.__file__).parent / "brenik.libs").glob("libscipy_openblas*.so"))
    lib_path = bundled[0] if len(bundled) == 1 else None
    if lib_path is None:
        with open("/proc/self/maps") as maps:
            loaded = {line.split()[-1] for line in maps if line.rstrip().endswith("/libscipy_openblas.so")}
        if len(loaded) != 1:
            raise SystemExit(f"cannot tell which OpenBLAS brenik uses: {sorted(loaded)}")
        lib_path = loaded.pop()
    lib = ctypes.CDLL(str(lib_path))
    fn = lib.scipy_cblas_sgemm
    fn.restype = None
    return fn, lib


def set_bundled_threads(lib, threads):
    """brenik keeps its OpenBLAS on one thread and sets it so at each of its
    calls; the whole-matrix products here use every core."""
    lib.scipy_openblas_set_num_threads(threads)


def sgemm_peak(sgemm, lib, threads):
    """GFLOP/s of the best of a few 512 x 512 x 512 products."""
    n = 512
    a, b = np.ones((n, n), np.float32), np.ones((n, n), np.float32)
    c = np.empty((n, n), np.float32)
    sgemm.argtypes = [ctypes.c_int] * 6 + [ctypes.c_float, ctypes.c_void_p, ctypes.c_int,
                                            ctypes.c_void_p, ctypes.c_int, ctypes.c_float,
                                            ctypes.c_void_p, ctypes.c_int]
    args = (101, 111, 111, n, n, n, 1.0, a.ctypes.data, n, b.ctypes.data, n, 0.0, c.ctypes.data, n)
    set_bundled_threads(lib, threads)
    sgemm(*args)
    best = min(timed_call(sgemm, args) for _ in range(20))
    return 2 * n ** 3 / best / 1e9


def timed_call(fn, args):
    start = time.perf_counter()
    fn(*args)
    return time.perf_counter() - start


def epoch_flop(w):
    """Floating-point operations of the products in one of brenik's epochs:
    forward of the training and validation samples, weight gradients, and the
    input gradients of all layers but the first."""
    n, n_val = w.x.shape[0], w.val_x.shape[0]
    flop = 0
    for i in range(len(w.sizes) - 1):
        weights = w.sizes[i] * w.sizes[i + 1]
        flop += 2 * weights * (2 * n + n_val + (n if i > 0 else 0))
    return flop


def product_runners(w, sgemm, lib):
    """Two runners timing an epoch's matrix products alone, the same products
    the library's epoch makes (forward of the training and validation samples,
    weight gradients, input gradients), with and without the first layer's
    input gradient. The cost of the ctypes calls themselves, measured on empty
    products, is taken off."""
    n, n_val = w.x.shape[0], w.val_x.shape[0]
    row_major, no_t, t = 101, 111, 112
    sgemm.argtypes = [ctypes.c_int] * 6 + [ctypes.c_float, ctypes.c_void_p, ctypes.c_int,
                                            ctypes.c_void_p, ctypes.c_int, ctypes.c_float,
                                            ctypes.c_void_p, ctypes.c_int]
    keep = []

    def call(ta, tb, m, nn, k, a, b):
        c = np.empty((m, nn), np.float32)
        keep.extend((a, b, c))
        lda = a.shape[1]
        ldb = b.shape[1]
        return (row_major, ta, tb, m, nn, k, 1.0, a.ctypes.data, lda, b.ctypes.data, ldb, 0.0,
                c.ctypes.data, nn)

    calls = {True: [], False: []}
    for i in range(len(w.sizes) - 1):
        k, m = w.sizes[i], w.sizes[i + 1]
        A, V = np.ones((n, k), np.float32), np.ones((n_val, k), np.float32)
        W, G = np.full((k, m), 0.5, np.float32), np.ones((n, m), np.float32)
        layer = [call(no_t, no_t, n, m, k, A, W),    # training forward
                 call(t, no_t, k, m, n, A, G),       # weight gradient
                 call(no_t, no_t, n_val, m, k, V, W)]  # validation forward
        dx = call(no_t, t, n, k, m, G, W)            # input gradient
        calls[True] += layer + [dx]
        calls[False] += layer + ([dx] if i > 0 else [])
    empty = call(no_t, no_t, 0, 1, 1, np.ones((1, 1), np.float32), np.ones((1, 1), np.float32))

    def overhead_per_call():
        reps = 2000
        start = time.perf_counter()
        for _ in range(reps):
            sgemm(*empty)
        return (time.perf_counter() - start) / reps

    def runner(with_first_dx):
        def run(_w, _arrays=keep):  # the arrays must outlive the pointers in `calls`
            set_bundled_threads(lib, os.cpu_count() or 1)
            seq = calls[with_first_dx]
            start = time.perf_counter()
            for _ in range(w.epochs):
                for args in seq:
                    sgemm(*args)
            elapsed = time.perf_counter() - start
            return max(0.0, elapsed - overhead_per_call() * len(seq) * w.epochs) / w.epochs
        return run

    set_bundled_threads(lib, os.cpu_count() or 1)
    for args in calls[True]:  # warm-up: OpenBLAS threads started, pages touched
        sgemm(*args)
    return runner(True), runner(False)


# --- Reporting ---------------------------------------------------------------------


def fmt_time(s):
    return f"{s * 1e3:9.3f} ms" if s >= 1e-3 else f"{s * 1e6:9.1f} us"


def spread(times):
    med = statistics.median(times)
    return f"±{(max(times) - min(times)) / 2 / med * 100:4.1f}%"


def run_training(quick, names, runner_names):
    runners = [("brenik", brenik_epoch), ("brenik+1", brenik_marginal_epoch),
               ("no file", brenik_epoch_without_file), ("numpy", numpy_epoch)]
    if torch is not None:
        torch.set_num_threads(os.cpu_count() or 1)
        runners.append(("torch", torch_epoch))
    if MLPClassifier is not None:
        runners.append(("sklearn", sklearn_epoch))
    if runner_names:
        runners = [r for r in runners if r[0] in ("brenik", "brenik+1", "no file") or r[0] in runner_names]
    sgemm, lib = bundled_sgemm()
    cores = os.cpu_count() or 1
    print(f"SGEMM peak (512 x 512 x 512, brenik's OpenBLAS): {sgemm_peak(sgemm, lib, 1):.0f} GFLOP/s "
          f"on 1 thread, {sgemm_peak(sgemm, lib, cores):.0f} GFLOP/s on {cores}; measured again "
          f"between the runs of each workload for its peak row")
    notes = {"brenik": "training call with its model file",
             "brenik+1": "an epoch after the first, the call's fixed part taken out",
             "no file": "brenik without a model file",
             "products": "all products of the epoch, whole matrices on every core",
             "products-": "without the first layer's input gradient"}
    print(f"{'workload':44} {'runner':10} {'epoch (median)':>14} {'spread':>7} {'x brenik':>9}")
    for w in workloads(quick):
        if names and w.name not in names:
            continue
        brenik_call(w, 2)  # a file to report the size of; the loss falls at epoch 2
        size = os.path.getsize(model_path(w))
        all_products, products_without = product_runners(w, sgemm, lib)
        timed = runners + [("products", all_products), ("products-", products_without)]
        times = {name: [] for name, _ in timed}
        peaks = []
        for name, fn in timed:  # warm-up
            fn(w)
        for _ in range(w.reps):  # interleaved repetitions
            for name, fn in timed:
                gc.collect()
                time.sleep(PAUSE)
                times[name].append(fn(w))
            time.sleep(PAUSE)
            peaks.append(sgemm_peak(sgemm, lib, cores))
        peak = statistics.median(peaks)
        base = statistics.median(times["brenik"])
        marginal = statistics.median(times["brenik+1"])
        for name, _ in timed:
            med = statistics.median(times[name])
            note = f"  {notes[name]}" if name in notes else ""
            if name == "products-":
                note += f" ({med / marginal * 100:.0f}% of brenik+1)"
            if name == "brenik":
                note += f" ({size / 1e6:.1f} MB)"
            if name in ("brenik", "brenik+1", "no file"):
                gflops = epoch_flop(w) / med / 1e9
                note += f", {gflops:.0f} GFLOP/s ({gflops / peak * 100:.0f}% of peak)"
            if name == "no file":
                # Each repetition ran both calls moments apart: their ratio is
                # steadier than the ratio of two medians on a noisy machine.
                paired = statistics.median(a / b for a, b in zip(times["brenik"], times["no file"]))
                note += f"; with the file / without: {paired:.2f} (median of the paired runs)"
            print(f"{w.describe():44} {name:10} {fmt_time(med):>14} {spread(times[name]):>7} "
                  f"{med / base:8.2f}x{note}")
        print(f"{w.describe():44} {'peak':10} {peak:9.0f} GFLOP/s {spread(peaks):>7}           "
              f"SGEMM 512 x 512 x 512 on {cores} cores, between the runs")
        sys.stdout.flush()


def run_file_io():
    """brenik's model-file save and load against json and orjson on the same numbers."""
    rng = np.random.default_rng(3)
    x = rng.standard_normal((20000, 784), dtype=np.float32)
    y = rng.integers(0, 10, 20000).astype(np.int32)
    empty = np.zeros((0, 0), np.float32)
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "m.json")
        model = brenik.create_categorical_model("softmax", path)
        model = brenik.add_categorical_model_layer(model, 784, 10, "dense")
        opt = brenik.create_optimizer("sgd", 0.5, 0.0)

        def train(model, epochs):
            start = time.perf_counter()
            brenik.train_categorical_model(model, opt, epochs, 65535, x, y, empty,
                                           np.zeros(0, np.int32))
            return time.perf_counter() - start

        # Epoch 2 improves on epoch 1 with a large SGD step, so it writes the file once.
        no_file = brenik.create_categorical_model("softmax", "")
        no_file = brenik.add_categorical_model_layer(no_file, 784, 10, "dense")
        save_times = []
        for _ in range(3):
            if os.path.exists(path):
                os.remove(path)
            with_save = train(model, 2)
            save_times.append(with_save - train(no_file, 2))
            assert os.path.exists(path), "training did not write the model file"
        size = os.path.getsize(path)
        save = statistics.median(save_times)
        load_times = []
        for _ in range(3):
            start = time.perf_counter()
            brenik.load_categorical_model(path)
            load_times.append(time.perf_counter() - start)
        load = min(load_times)
        text = pathlib.Path(path).read_bytes()
    doc = json.loads(text)
    rows = [("brenik", save, load)]
    start = time.perf_counter()
    s = json.dumps(doc, separators=(",", ":"))
    dump = time.perf_counter() - start
    start = time.perf_counter()
    json.loads(s)
    rows.append(("json", dump, time.perf_counter() - start))
    if orjson is not None:
        start = time.perf_counter()
        b = orjson.dumps(doc)
        dump = time.perf_counter() - start
        start = time.perf_counter()
        orjson.loads(b)
        rows.append(("orjson", dump, time.perf_counter() - start))
    print(f"\nmodel file of {size / 1e6:.1f} MB (a 20000x784 training set inside)")
    print(f"{'writer':8} {'save MB/s':>10} {'load MB/s':>10}")
    for name, w, r in rows:
        print(f"{name:8} {size / w / 1e6:10.0f} {size / r / 1e6:10.0f}")


MEMORY_PROBE = r"""
import sys, numpy as np, brenik
def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096
base = rss()
rng = np.random.default_rng(5)
x = rng.standard_normal((60000, 784), dtype=np.float32)
y = rng.integers(0, 10, 60000).astype(np.int32)
vx = rng.standard_normal((10000, 784), dtype=np.float32)
vy = rng.integers(0, 10, 10000).astype(np.int32)
arrays = x.nbytes + y.nbytes + vx.nbytes + vy.nbytes
m = brenik.create_categorical_model("softmax", sys.argv[1])
m = brenik.add_categorical_model_layer(m, 784, 128, "dense", "relu")
m = brenik.add_categorical_model_layer(m, 128, 10, "dense")
brenik.train_categorical_model(m, brenik.create_optimizer("adam", 0.001, 0.0), 2, 65535, x, y, vx, vy)
# The peak of this process's own memory: VmHWM starts afresh at exec, while
# ru_maxrss would carry the parent's peak over from the fork.
with open("/proc/self/status") as f:
    peak = next(int(l.split()[1]) for l in f if l.startswith("VmHWM:")) * 1024 - base
hidden = (60000 + 10000) * (128 + 10) * 4 * 2
print(peak, arrays, x.nbytes, hidden)
"""


def run_memory():
    def probe(path):
        out = subprocess.run([sys.executable, "-c", MEMORY_PROBE, path], capture_output=True,
                             text=True, check=True).stdout.split()
        return map(int, out)

    peak, arrays, xbytes, hidden = probe(os.path.join(MODEL_DIR, "memory.json"))
    peak_without_file, *_ = probe("")
    budget = arrays + 2.5 * xbytes + hidden
    # The validation pass's stored copies: the ReLU's input and output, 10000 x 128 each.
    forward_copies = 10000 * 128 * 4 * 2
    print(f"\nW2 training call with its file: peak RSS above start {peak / 2**20:.0f} MiB; caller's "
          f"arrays {arrays / 2**20:.0f} MiB, x {xbytes / 2**20:.0f} MiB, activations "
          f"{hidden / 2**20:.0f} MiB; budget (arrays + 2.5 x + activations) {budget / 2**20:.0f} MiB"
          f" -> {peak / budget * 100:.0f}% of budget")
    print(f"without a file {peak_without_file / 2**20:.0f} MiB: the file costs "
          f"{(peak - peak_without_file) / 2**20:.0f} MiB (one set of stored forward copies: "
          f"{forward_copies / 2**20:.0f} MiB)")


def describe_machine():
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            model = next(line.split(":", 1)[1].strip() for line in cpuinfo if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    print(f"machine: {model}, {os.cpu_count()} cores; python {sys.version.split()[0]}, "
          f"numpy {np.__version__}" + (f", torch {torch.__version__}" if torch is not None else ""))
    if torch is not None:
        print(f"torch: BLAS {torch.backends.mkl.is_available() and 'MKL' or 'not MKL'}, "
              f"{torch.get_num_threads()} threads")
    try:
        from threadpoolctl import threadpool_info
    except ImportError:
        return
    for info in threadpool_info():  # which OpenBLAS serves whom, with its kernels
        if info.get("user_api") == "blas":
            path = pathlib.Path(info["filepath"])
            owner = path.parent.parent.name if path.parent.name == "lib" else path.parent.name
            print(f"BLAS: {owner}/{path.name}: {info.get('internal_api')} "
                  f"{info.get('version')}, {info.get('architecture')} kernels, "
                  f"{info.get('num_threads')} threads")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer epochs and repetitions")
    parser.add_argument("--only", choices=["training", "file", "memory"])
    parser.add_argument("--workloads", default="", help="comma-separated subset, e.g. W1,W3")
    parser.add_argument("--runners", default="", help="comma-separated subset of numpy,torch,sklearn")
    args = parser.parse_args()
    describe_machine()
    try:
        if args.only in (None, "training"):
            run_training(args.quick, set(filter(None, args.workloads.split(","))),
                         set(filter(None, args.runners.split(","))))
        if args.only in (None, "file"):
            run_file_io()
        if args.only in (None, "memory"):
            run_memory()
    finally:
        shutil.rmtree(MODEL_DIR, ignore_errors=True)


if __name__ == "__main__":
    main()
