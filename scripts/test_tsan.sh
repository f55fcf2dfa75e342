#!/bin/sh
# Builds the C++ tests with ThreadSanitizer and runs the tests that exercise the worker pool and
# the parallel searches. Usage: scripts/test_tsan.sh [gtest filter]
set -eu
cd "$(dirname "$0")/.."
cmake -S . -B build-tsan -G Ninja -DQUOR_SANITIZE=thread -DQUOR_BUILD_PYTHON=OFF \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-tsan -j2 --target quor_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    build-tsan/tests/cpp/quor_tests --gtest_brief=1 \
    --gtest_filter="${1:-Pool*:FindCompiled*:FindChanges*:EvalDeep*}"
