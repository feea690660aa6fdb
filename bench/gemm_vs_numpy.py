"""The dense-layer products through brenik's BLAS wrapper against numpy.matmul.

    python bench/gemm_vs_numpy.py [path/to/gemm_bench] [min_seconds] [rounds] [name...]

Runs the C++ program (built with -DBRENIK_BUILD_BENCH=ON) and the same products
with the same operand layouts in NumPy (transposed operands as transposed views,
which NumPy hands to its BLAS as transpose flags), alternating the two for each
product over several rounds so that both see the same machine load. Prints the
best time of each side as GFLOP/s. Both use every core their OpenBLAS sees.
"""

import subprocess
import sys
import time

import numpy as np


def numpy_times(m, n, k, ta, tb, min_seconds):
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
    return times[0], times[len(times) // 2]


def brenik_times(program, min_seconds, name=None):
    args = [program, str(min_seconds)] + ([name] if name else [])
    out = subprocess.run(args, check=True, capture_output=True, text=True).stdout
    return [line.split() for line in out.splitlines() if line]


def main():
    program = sys.argv[1] if len(sys.argv) > 1 else "build/numerics/gemm_bench"
    min_seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 0.5
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    names = sys.argv[4:]
    products = [p for p in brenik_times(program, 0.0) if not names or p[0] in names]
    print(f"{'product':24} {'m x n x k':>18} {'brenik':>9} {'numpy':>9} {'ratio':>6}"
          f"   best-of GFLOP/s (medians in brackets)")
    worst = None
    for name, m, n, k, ta, tb, *_ in products:
        m, n, k = int(m), int(n), int(k)
        ours_best = ours_median = theirs_best = theirs_median = float("inf")
        for _ in range(rounds):
            line = brenik_times(program, min_seconds, name)[0]
            ours_best = min(ours_best, float(line[6]))
            ours_median = min(ours_median, float(line[7]))
            best, median = numpy_times(m, n, k, ta == "1", tb == "1", min_seconds)
            theirs_best = min(theirs_best, best)
            theirs_median = min(theirs_median, median)
        gflop = 2.0 * m * n * k / 1e9
        ratio = theirs_best / ours_best
        worst = ratio if worst is None else min(worst, ratio)
        print(f"{name:24} {f'{m}x{n}x{k}':>18} {gflop / ours_best:9.1f} {gflop / theirs_best:9.1f}"
              f" {ratio:6.2f}   [{gflop / ours_median:.1f} vs {gflop / theirs_median:.1f}]")
    print(f"lowest ratio (brenik / numpy throughput): {worst:.2f}")


if __name__ == "__main__":
    main()
