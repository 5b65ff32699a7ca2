#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit tests and the process-level tests.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
# The benchmark's own tests too.
cmake --preset dev -DTRAVO_BUILD_BENCH=ON
cmake --build --preset dev
ctest --preset dev -j2
