#!/usr/bin/env bash
# The one way to run every test: the checks of the wheel (auditwheel, the abi3
# audit, tools/check_wheel.py) and of its type stubs, C++ unit tests (CTest),
# the Python suite (pytest) against the installed wheel, a short fuzz pass over
# the model-file reader and the models it accepts, and then both suites again
# against a build with AddressSanitizer and UndefinedBehaviorSanitizer. Sets up
# what it needs on a fresh machine (Debian packages, a virtual environment in
# .venv).
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

echo "== building, repairing, checking and installing the wheel"
rm -rf dist
pip wheel -q --no-build-isolation --no-deps -w dist/built .
# The build has already bundled and renamed the OpenBLAS; the repair finds
# nothing left to vendor and gives the wheel its manylinux tag.
auditwheel repair -w dist dist/built/brenik-*.whl
rm -rf dist/built
wheel=$(echo dist/brenik-*-manylinux_*.whl)
auditwheel show "$wheel"
abi3audit --strict --report "$wheel"
python tools/check_wheel.py "$wheel"
pip install -q --force-reinstall --no-deps "$wheel"

echo "== type stubs (stubtest, mypy --strict)"
python -m mypy.stubtest brenik --allowlist tests/typing/stubtest_allowlist.txt
mypy --strict tests/typing/calls.py

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

# The sanitizer pass: core, module and C++ tests built with gcc's ASan+UBSan in
# build/asan. Python itself is not instrumented, so the runtimes are preloaded;
# its start-up allocations look like leaks, hence detect_leaks=0 there (the
# C++ tests keep leak detection). Child interpreters that tests spawn inherit
# the same environment.
echo "== sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer)"
CXX=g++ cmake -S . -B build/asan -G Ninja -DBRENIK_SANITIZE=ON \
      -DBRENIK_BUILD_TESTS=ON -DPython_EXECUTABLE="$PWD/.venv/bin/python" >/dev/null
cmake --build build/asan

echo "== C++ unit tests under the sanitizers"
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --test-dir build/asan --output-on-failure

echo "== Python tests under the sanitizers"
(
    export LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)"
    export ASAN_OPTIONS=detect_leaks=0
    export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
    export PYTHONPATH="$PWD/build/asan"
    python -c "import brenik; print(brenik.__file__)" | grep -q "^$PWD/build/asan/" \
        || { echo "brenik did not load from build/asan"; exit 1; }
    python -m pytest tests/python -q -p no:cacheprovider
)
