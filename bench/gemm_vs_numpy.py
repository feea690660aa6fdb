"""The dense-layer products through brenik's BLAS wrapper against numpy.matmul.

    python bench/gemm_vs_numpy.py [path/to/gemm_bench] [min_seconds]

Runs the C++ program (built with -DBRENIK_BUILD_BENCH=ON), then the same
products with the same operand layouts in NumPy (transposed operands as
transposed views, which NumPy hands to its BLAS as transpose flags), and prints
GFLOP/s side by side. Both sides use every core their OpenBLAS sees.
"""

import subprocess
import sys
import time

import numpy as np


def numpy_median(m, n, k, ta, tb, min_seconds):
    rng = np.random.default_rng(0)
    a = rng.uniform(-1, 1, (k, m) if ta else (m, k)).astype(np.float32)
    b = rng.uniform(-1, 1, (n, k) if tb else (k, n)).astype(np.float32)
    a_op = a.T if ta else a
    b_op = b.T if tb else b
    c = np.empty((m, n), np.float32)
    np.matmul(a_op, b_op, out=c)
    times = []
    begin = time.perf_counter()
    while len(times) < 5 or (time.perf_counter() - begin < min_seconds and len(times) < 1000):
        start = time.perf_counter()
        np.matmul(a_op, b_op, out=c)
        times.append(time.perf_counter() - start)
    times.sort()
    return times[len(times) // 2]


def main():
    program = sys.argv[1] if len(sys.argv) > 1 else "build/numerics/gemm_bench"
    min_seconds = sys.argv[2] if len(sys.argv) > 2 else "1.0"
    lines = subprocess.run([program, min_seconds], check=True, capture_output=True,
                           text=True).stdout.split("\n")
    print(f"{'product':24} {'m x n x k':>18} {'brenik':>9} {'numpy':>9} {'ratio':>6}   GFLOP/s")
    worst = None
    for line in filter(None, lines):
        name, m, n, k, ta, tb, seconds, _ = line.split()
        m, n, k = int(m), int(n), int(k)
        flops = 2.0 * m * n * k
        ours = flops / float(seconds) / 1e9
        theirs = flops / numpy_median(m, n, k, ta == "1", tb == "1", float(min_seconds)) / 1e9
        ratio = ours / theirs
        worst = ratio if worst is None else min(worst, ratio)
        print(f"{name:24} {f'{m}x{n}x{k}':>18} {ours:9.1f} {theirs:9.1f} {ratio:6.2f}")
    print(f"lowest ratio: {worst:.2f}")


if __name__ == "__main__":
    main()
