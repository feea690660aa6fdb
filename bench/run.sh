#!/usr/bin/env bash
# Sets up .venv with brenik and the alternatives, then runs the benchmark table.
#   bash bench/run.sh [--quick] [--only training|file|memory]
set -euo pipefail
cd "$(dirname "$0")/.."
[ -x .venv/bin/python ] || python3 -m venv .venv
.venv/bin/pip install -q --disable-pip-version-check -r bench/requirements.txt
.venv/bin/pip install -q --disable-pip-version-check .
# Some machines pin OpenBLAS to an older kernel through these; they would slow
# the NumPy and PyTorch baselines, so the comparison runs without them.
unset OPENBLAS_CORETYPE OPENBLAS_L2_SIZE
exec .venv/bin/python bench/run.py "$@"
