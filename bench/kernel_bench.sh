#!/usr/bin/env bash
# Installs the kernel libraries that kernel_bench compares with the bundled
# OpenBLAS (Debian's libxsmm-dev; MKL's static libraries and headers from PyPI
# into build/mkl; with --blis also Debian's libblis-dev, which makes itself
# the system's libblas.so.3), builds kernel_bench in build/bench and runs it.
#   bash bench/kernel_bench.sh [--blis] [min_seconds_per_case]
set -euo pipefail
cd "$(dirname "$0")/.."
blis=OFF
if [ "${1:-}" = "--blis" ]; then blis=ON; shift; fi

need=()
[ -f /usr/include/libxsmm.h ] || need+=(libxsmm-dev)
[ $blis = OFF ] || [ -f /usr/include/x86_64-linux-gnu/blis-openmp/blis.h ] || need+=(libblis-dev)
if [ ${#need[@]} -gt 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi
[ -x .venv/bin/python ] || python3 -m venv .venv
.venv/bin/pip install -q --disable-pip-version-check -r tests/requirements.txt
[ -f build/mkl/include/mkl.h ] || .venv/bin/pip install -q --disable-pip-version-check \
    --prefix "$PWD/build/mkl" --no-warn-script-location mkl-static mkl-include

cmake -S . -B build/bench -G Ninja -DBRENIK_BUILD_BENCH=ON -DBRENIK_BUILD_MODULE=OFF \
      -DPython_EXECUTABLE="$PWD/.venv/bin/python" -DBRENIK_BENCH_MKL_DIR="$PWD/build/mkl" \
      -DBRENIK_BENCH_LIBXSMM=ON -DBRENIK_BENCH_BLIS=$blis >/dev/null
cmake --build build/bench --target kernel_bench
uptime
flock /tmp/brenik-bench.lock build/bench/kernel_bench "$@"
