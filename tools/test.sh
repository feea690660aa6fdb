#!/usr/bin/env bash
# The one way to run every test: C++ unit tests (CTest), the Python suite
# (pytest) against the installed module, a short fuzz pass over the model-file
# reader, and the abi3 audit of the wheel. Sets up what it needs on a fresh
# machine (Debian packages, a virtual environment in .venv).
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
command -v clang++ >/dev/null || need+=(clang)
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
if [ ${#need[@]} -gt 0 ]; then
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" >/dev/null
fi

[ -x .venv/bin/python ] || python3 -m venv .venv
.venv/bin/pip install -q --disable-pip-version-check -r tests/requirements.txt
export PATH="$PWD/.venv/bin:$PATH"

echo "== building and installing the module"
rm -rf dist
pip wheel -q --no-build-isolation --no-deps -w dist .
abi3audit --strict --report dist/brenik-*.whl
pip install -q --force-reinstall --no-deps dist/brenik-*.whl

echo "== C++ unit tests"
cmake -S . -B build/tests -G Ninja -DBRENIK_BUILD_TESTS=ON -DBRENIK_BUILD_MODULE=OFF \
      -DPython_EXECUTABLE="$PWD/.venv/bin/python" >/dev/null
cmake --build build/tests
ctest --test-dir build/tests --output-on-failure

if [ -d fuzz ]; then
    echo "== short fuzz pass"
    bash fuzz/run.sh 30
fi

echo "== Python tests"
python -m pytest tests/python -q
