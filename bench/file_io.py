"""Model-file throughput: brenik's writer and reader against json and orjson.

Builds bench/file_bench.cpp, which saves and loads a model holding a large
inputs matrix (ROWS x COLS), then times Python's json and orjson writing and
reading the same numbers (the document parsed from brenik's file). Prints MB/s
side by side; each writer is measured on the size of its own text.

    python bench/file_io.py [--rows 60000] [--cols 784] [--kind pixels|normal]

Needs cmake, ninja and a C++ compiler; orjson is optional (bench/requirements.txt).
"""

import argparse
import json
import os
import pathlib
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
BUILD = ROOT / "build" / "bench"


def build_bench():
    subprocess.run(
        ["cmake", "-S", str(ROOT), "-B", str(BUILD), "-G", "Ninja", "-DBRENIK_BUILD_BENCH=ON",
         "-DBRENIK_BUILD_MODULE=OFF", f"-DPython_EXECUTABLE={sys.executable}"],
        check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", str(BUILD), "--target", "file_bench"], check=True,
                   stdout=subprocess.DEVNULL)
    return BUILD / "file_bench"


def timed(action):
    start = time.perf_counter()
    result = action()
    return time.perf_counter() - start, result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=60000)
    parser.add_argument("--cols", type=int, default=784)
    parser.add_argument("--kind", choices=["pixels", "normal"], default="pixels")
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    try:
        import orjson
    except ImportError:
        orjson = None

    bench = build_bench()
    # Rounds interleave the libraries, so a busy machine slows all of them
    # alike; each keeps its best round.
    best = {}

    def keep(name, what, seconds, size=None):
        old = best.setdefault((name, what), (float("inf"), size))
        if seconds < old[0]:
            best[(name, what)] = (seconds, size)

    doc = raw = None
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "model.json")
        for _ in range(args.repeats):
            out = subprocess.run([str(bench), str(args.rows), str(args.cols), args.kind, path, "1"],
                                 check=True, capture_output=True, text=True)
            stats = dict(line.split("=", 1) for line in out.stdout.split())
            if raw is None:
                with open(path, "rb") as f:
                    raw = f.read()
                text = raw.decode()
            mb = len(raw) / 1e6
            keep("brenik", "write", float(stats["save_seconds"]), mb)
            keep("brenik text", "write", float(stats["text_seconds"]), mb)
            keep("brenik", "read", float(stats["load_seconds"]))
            seconds, doc = timed(lambda: json.loads(text))
            keep("json", "read", seconds)
            seconds, dumped = timed(lambda: json.dumps(doc, separators=(",", ":")))
            keep("json", "write", seconds, len(dumped) / 1e6)
            del dumped
            if orjson is not None:
                keep("orjson", "read", timed(lambda: orjson.loads(raw))[0])
                seconds, dumped = timed(lambda: orjson.dumps(doc))
                keep("orjson", "write", seconds, len(dumped) / 1e6)
                del dumped

    numbers = int(stats["numbers"])
    print(f"{args.rows} x {args.cols} {args.kind} inputs: {numbers} numbers, "
          f"brenik file {mb:.1f} MB (best of {args.repeats} interleaved rounds)")
    print("brenik: save to a file through a renamed temporary file, load of the whole file;\n"
          "brenik text: the same text formatted without file I/O (as json and orjson, which\n"
          "write to memory); each writer measured on the size of its own text")
    print(f"{'':11} {'write MB/s':>11} {'ns/number':>10} {'read MB/s':>10} {'ns/number':>10}")
    for name in ["brenik", "brenik text", "json", "orjson"]:
        if (name, "write") not in best:
            continue
        write_s, write_mb = best[(name, "write")]
        line = f"{name:11} {write_mb / write_s:11.0f} {write_s / numbers * 1e9:10.1f}"
        if (name, "read") in best:
            read_s, _ = best[(name, "read")]
            line += f" {mb / read_s:10.0f} {read_s / numbers * 1e9:10.1f}"
        print(line)


if __name__ == "__main__":
    main()
