#!/usr/bin/env bash
# Builds the command-line tool and runs the main job: a payment against the bundled simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -G Ninja -DKORVEL_BUILD_TESTS=OFF >/dev/null
cmake --build build -j "$(nproc)" --target korvelcom >/dev/null
exec build/tools/korvelcom/korvelcom demo "$@"
