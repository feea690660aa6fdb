#!/usr/bin/env bash
# The main job, from a fresh checkout: install brenik with scikit-learn into the
# virtual environment .venv (created if missing), then train the digits
# classifier, keep its best parameters in build/main_job/digits_model.json,
# load them back and evaluate the held-out images. Extra arguments go to
# examples/digits.py (for example --epochs 100). Exits non-zero when the
# held-out accuracy is below 95%.
set -euo pipefail
cd "$(dirname "$0")/.."

[ -x .venv/bin/python ] || python3 -m venv .venv
echo "== installing brenik and scikit-learn into .venv (builds the module)"
.venv/bin/pip install -q --disable-pip-version-check . scikit-learn

mkdir -p build/main_job
echo "== training and evaluating the digits classifier"
# The model file stays out of the source tree.
cd build/main_job
../../.venv/bin/python ../../examples/digits.py --model digits_model.json "$@"
