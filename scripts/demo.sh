#!/usr/bin/env bash
# Sets up quor (see setup.sh: only what the demo needs) and runs the example: loads the bundled
# trace and answers queries.
set -euo pipefail
cd "$(dirname "$0")/.."
echo "demo: setting up quor first; each step is announced"
bash scripts/setup.sh
echo "demo: running examples/demo.py"
.venv/bin/python examples/demo.py "$@"
