#!/usr/bin/env bash
# Builds everything with warnings as errors and runs the whole test suite.
# Usage: scripts/test.sh [BUILD_DIR] [extra cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
build="${1:-build}"
shift || true
# Every option this script relies on is set, whatever an earlier configuration left in the cache.
cmake -S . -B "$build" -G Ninja -DKORVEL_BUILD_TESTS=ON -DKORVEL_WERROR=ON -DKORVEL_BUILD_BENCH=ON "$@"
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$(nproc)"
