#!/usr/bin/env bash
# Sets up, builds and runs every test: the unit tests and the process-level tests.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
# The benchmark's own tests too.
cmake --preset dev -DTRAVO_BUILD_BENCH=ON
cmake --build --preset dev
status=0
ctest --preset dev -j2 || status=$?
# ctest names the tests it skipped but not why; each said why in its output.
awk '/^[0-9]+\/[0-9]+ Test: / { name = $3 }
     reason { print "skipped " name ": " $0; reason = 0 }
     /: Skipped$/ { reason = 1 }
     /^SKIP: / { print "skipped " name ": " substr($0, 7) }' build/dev/Testing/Temporary/LastTest.log
exit "$status"
