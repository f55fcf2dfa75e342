#!/usr/bin/env bash
# Installs what quor needs on a Debian machine and builds it into the virtual environment .venv.
#   scripts/setup.sh          what building and using quor needs, nothing more
#   scripts/setup.sh --test   also the test tools: pytest, hypothesis, numpy, mypy and the optional
#                             extras (pyarrow, pandas, duckdb, dask) for their tests; GoogleTest,
#                             clang/libFuzzer, and the simulators and converters that write the
#                             test fixtures
# Each step says what it does: the build of the C++ engine alone takes a few minutes.
set -euo pipefail
cd "$(dirname "$0")/.."

say() { echo "setup: $*"; }

testing=false
[[ "${1:-}" == "--test" ]] && testing=true

packages=(zlib1g-dev liblz4-dev pkg-config)
$testing && packages+=(libgtest-dev clang libclang-rt-14-dev gtkwave iverilog verilator ghdl)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  say "installing Debian packages: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
else
  say "Debian packages present: ${packages[*]}"
fi

say "creating the virtual environment .venv"
python3 -m venv .venv
say "installing the build tools into .venv (pip, scikit-build-core, cmake, ninja)"
.venv/bin/python -m pip install -q --upgrade pip
.venv/bin/python -m pip install -q scikit-build-core cmake ninja
if $testing; then
  say "installing the test tools into .venv (pytest, hypothesis, numpy, mypy, and the optional"
  say "  extras pyarrow, pandas, duckdb and dask, so their tests run too)"
  .venv/bin/python -m pip install -q pytest hypothesis numpy mypy pyarrow pandas duckdb "dask[distributed]"
fi
say "building quor and installing it into .venv (compiling the C++ engine takes a few minutes)"
start=$SECONDS
.venv/bin/python -m pip install -q --no-build-isolation .
say "quor is installed ($((SECONDS - start)) s to build): .venv/bin/python -c 'import quor'"
