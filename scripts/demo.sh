#!/usr/bin/env bash
# Sets up quor (see setup.sh) and runs the example: loads the bundled trace and answers queries.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
.venv/bin/python examples/demo.py "$@"
