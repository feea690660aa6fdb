#!/usr/bin/env bash
# Builds the model-file fuzzer with clang in build/fuzz and runs it for
# SECONDS (default 30). Exits non-zero when it finds a fault; the input that
# caused it is left in build/fuzz/ as crash-* (or leak-*, timeout-*).
#   bash fuzz/run.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
python="$PWD/.venv/bin/python"
[ -x "$python" ] || python="$(command -v python3)"

CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DBRENIK_BUILD_FUZZERS=ON \
    -DBRENIK_BUILD_MODULE=OFF -DPython_EXECUTABLE="$python" >/dev/null
cmake --build build/fuzz --target model_file_fuzzer

# New inputs go to the first directory; the committed seeds stay as they are.
mkdir -p build/fuzz/corpus
build/fuzz/fuzz/model_file_fuzzer -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -dict=fuzz/model_file.dict -artifact_prefix=build/fuzz/ -print_final_stats=1 \
    build/fuzz/corpus fuzz/corpus 2>build/fuzz/last_run.log \
    || { tail -n 60 build/fuzz/last_run.log; exit 1; }
grep -E "^stat::(number_of_executed_units|peak_rss_mb)" build/fuzz/last_run.log || true
echo "fuzzing: no finding in ${seconds}s"
