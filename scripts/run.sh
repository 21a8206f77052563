#!/usr/bin/env bash
# Builds the command-line tool and runs the main job: a payment against the bundled simulator.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
# Only the tool is built here; the configuration is left as scripts/test.sh wants it, so the
# two scripts share build/ in either order.
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j "$(nproc)" --target korvelcom >/dev/null
exec build/tools/korvelcom/korvelcom demo "$@"
