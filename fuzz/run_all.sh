#!/usr/bin/env bash
# Runs every fuzzer built in BUILD_DIR for SECONDS each: first over its kept
# regression inputs (fuzz/regressions/<name>/), then fuzzing from its seed
# corpus (fuzz/corpus/<name>/ plus, for fuzz_fst and fuzz_vcd, the simulators'
# FST and VCD files from the test fixtures).
set -euo pipefail
build=$(cd "${1:?usage: run_all.sh BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
for exe in "$build"/fuzz/fuzz_*; do
    [[ -x "$exe" ]] || continue
    name=$(basename "$exe")
    if [[ -d "$root/fuzz/regressions/$name" ]]; then
        "$exe" -runs=0 "$root/fuzz/regressions/$name"/* 2>&1 | tail -1
    fi
    work=$(mktemp -d)
    seeds=()
    [[ -d "$root/fuzz/corpus/$name" ]] && seeds+=("$root/fuzz/corpus/$name")
    if [[ $name == fuzz_fst ]]; then
        mkdir -p "$work/seeds"
        cp "$root"/tests/cpp/fst_data/*.fst "$work/seeds/"
        for f in "$root"/tests/fixtures/*/*.fst; do cp "$f" "$work/seeds/$(basename "$(dirname "$f")")_$(basename "$f")"; done
        seeds+=("$work/seeds")
    fi
    if [[ $name == fuzz_vcd ]]; then
        mkdir -p "$work/seeds"
        for f in "$root"/tests/fixtures/*/*.vcd; do cp "$f" "$work/seeds/$(basename "$(dirname "$f")")_$(basename "$f")"; done
        seeds+=("$work/seeds")
    fi
    echo "== $name for ${seconds}s"
    (cd "$work" && "$exe" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 -artifact_prefix="$build/fuzz/$name-" "$work" "${seeds[@]}" 2>&1 | tail -3)
    rm -rf "$work"
done
