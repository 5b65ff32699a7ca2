#!/usr/bin/env bash
# Builds the optimised travo and travo-bench, counts instructions per packet (when valgrind is
# there) and runs the benchmark. The last line printed is the one for scripts.
#   bash bench/run.sh [travo-bench options]      e.g. --idle-seconds 5 for a quick run
# INSTRUCTIONS=0 skips the instruction counts; BUILD_DIR=... picks another build directory.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build/bench}
# Warnings are gated by the test build; a benchmark run should not stop at one.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { cmake --preset release -B "$build" -DTRAVO_WERROR=OFF -DTRAVO_BUILD_TESTS=OFF \
    -DTRAVO_BUILD_BENCH=ON &&
    cmake --build "$build" --target travo-bench travo; } >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
fi

if [ "${INSTRUCTIONS:-1}" = 1 ] && command -v valgrind >/dev/null; then
    bash bench/instructions.sh "$build/bin/travo-bench"
    echo
fi
"$build/bin/travo-bench" "$@"
