#!/usr/bin/env bash
# Installs what quor needs on a Debian machine and builds it into the virtual environment .venv.
#   scripts/setup.sh          build dependencies only
#   scripts/setup.sh --test   also the test tools (GoogleTest, clang/libFuzzer, and the simulators
#                             and converters that write the test fixtures)
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(zlib1g-dev liblz4-dev pkg-config)
if [[ "${1:-}" == "--test" ]]; then
  packages+=(libgtest-dev clang libclang-rt-14-dev gtkwave iverilog verilator ghdl)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing Debian packages: ${missing[*]}"
  sudo_cmd=()
  [[ $(id -u) -ne 0 ]] && sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}" >/dev/null
fi

python3 -m venv .venv
.venv/bin/python -m pip install -q --upgrade pip
.venv/bin/python -m pip install -q scikit-build-core cmake ninja pytest hypothesis numpy mypy
if [[ "${1:-}" == "--test" ]]; then
  # The optional extras (Arrow, pandas, Parquet, Dask), so their tests run too.
  .venv/bin/python -m pip install -q pyarrow pandas duckdb "dask[distributed]"
fi
.venv/bin/python -m pip install -q --no-build-isolation .
