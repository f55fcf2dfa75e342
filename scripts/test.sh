#!/usr/bin/env bash
# Sets up quor with its test tools and runs every test:
#  1. the Python suite against the installed package,
#  2. the C++ unit tests,
#  3. both again built with AddressSanitizer + UndefinedBehaviorSanitizer,
#  4. the C++ tests built with ThreadSanitizer,
#  5. each fuzzer for a short, bounded time over its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --test
py=$PWD/.venv/bin/python
export PATH=$PWD/.venv/bin:$PATH
jobs=$(nproc)

echo "== Python tests (installed package)"
(cd tests/python && "$py" -m pytest -q -p no:cacheprovider .)

echo "== C++ tests"
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUOR_BUILD_PYTHON=OFF >/dev/null
cmake --build build/release -j"$jobs"
ctest --test-dir build/release --output-on-failure -j"$jobs"

echo "== AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUOR_SANITIZE=address,undefined \
  -DQUOR_PYTHON_OUT="$PWD/build/asan/pkg/quor" -DPython_EXECUTABLE="$py" >/dev/null
cmake --build build/asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 ctest --test-dir build/asan --output-on-failure -j"$jobs"
(cd tests/python && PYTHONPATH="$OLDPWD/build/asan/pkg" LD_PRELOAD="$(g++ -print-file-name=libasan.so) $(g++ -print-file-name=libubsan.so)" \
  ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 QUOR_TEST_SANITIZED=1 "$py" -m pytest -q -p no:cacheprovider .)

echo "== ThreadSanitizer"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUOR_SANITIZE=thread -DQUOR_BUILD_PYTHON=OFF >/dev/null
cmake --build build/tsan -j"$jobs"
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan --output-on-failure -j"$jobs"

if [[ -f fuzz/CMakeLists.txt ]]; then
  echo "== Fuzzers"
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUOR_BUILD_FUZZERS=ON \
    -DQUOR_BUILD_TESTS=OFF -DQUOR_BUILD_PYTHON=OFF >/dev/null
  cmake --build build/fuzz -j"$jobs"
  bash fuzz/run_all.sh build/fuzz "${QUOR_FUZZ_SECONDS:-60}"
fi
echo "== all tests passed"
