#!/usr/bin/env bash
# Builds the fuzzers with clang in build/fuzz and runs each for SECONDS
# (default 30): model_file_fuzzer on the model-file reader and writer,
# model_run_fuzzer on the models the reader accepts, evaluated and trained.
# Exits non-zero when one finds a fault; the input that caused it is left in
# build/fuzz/ as <fuzzer>-crash-* (or -leak-*, -timeout-*, -oom-*).
#   bash fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
python="$PWD/.venv/bin/python"
[ -x "$python" ] || python="$(command -v python3)"

CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DBRENIK_BUILD_FUZZERS=ON \
    -DBRENIK_BUILD_MODULE=OFF -DPython_EXECUTABLE="$python" >/dev/null
cmake --build build/fuzz --target model_file_fuzzer model_run_fuzzer

# New inputs go to the fuzzer's own directory; the committed seeds (and the
# minimized corpus of earlier long runs in fuzz/corpus/found) stay as they are.
run_fuzzer() {
    local name="$1" corpus="$2"
    mkdir -p "$corpus"
    "build/fuzz/fuzz/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -dict=fuzz/model_file.dict -artifact_prefix="build/fuzz/$name-" -print_final_stats=1 \
        "$corpus" fuzz/corpus 2>"build/fuzz/$name.log" \
        || { tail -n 60 "build/fuzz/$name.log"; exit 1; }
    grep -E "^stat::(number_of_executed_units|peak_rss_mb)" "build/fuzz/$name.log" || true
    echo "$name: no finding in ${seconds}s"
}
run_fuzzer model_file_fuzzer build/fuzz/corpus
run_fuzzer model_run_fuzzer build/fuzz/corpus-run
