#!/usr/bin/env bash
# The Windows job: cross-builds travo.exe, its tests and the tools with MinGW-w64, runs the unit
# tests under Wine, then runs the Linux process tests a second time against travo.exe.
# Exits non-zero when anything fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

started=$SECONDS
phase_started=$SECONDS
phase() {
    echo "windows: $1 took $((SECONDS - phase_started)) s"
    phase_started=$SECONDS
}

# googletest: its sources are built with the cross compiler.
bash scripts/setup.sh googletest g++-mingw-w64-x86-64-posix wine wine64
phase "set-up"

# The same prefix and settings as the test emulator, cmake/wine-run.sh.
export WINEPREFIX="$root/build/windows/wine"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

# One server for the whole job, its stdio away from any pipe that ctest or ninja waits on.
mkdir -p "$WINEPREFIX"
stop_wine() { wineserver -k > /dev/null 2>&1 || true; }
trap stop_wine EXIT
wineserver -p < /dev/null > /dev/null 2>&1 || true
# Makes the prefix, or with one left from an earlier run starts the services, which would
# otherwise start with the first test and hold its output pipe.
wineboot -i < /dev/null > /dev/null 2>&1
phase "Wine prefix"

cmake --preset windows > /dev/null
cmake --build --preset windows
phase "cross-build"

status=0
ctest --preset windows -j2 || status=1
phase "unit tests under Wine"

# The process tests are POSIX programs: the Linux build runs them with travo.exe in its place.
linux_build="${TRAVO_LINUX_BUILD:-build/dev}"
cmake --preset dev -B "$linux_build" > /dev/null
cmake --build "$linux_build" --target process_tests
TRAVO_UNDER_TEST="$root/cmake/wine-run.sh $WINEPREFIX $root/build/windows/bin/travo.exe" \
    ctest --test-dir "$linux_build" -R '^Process' -j2 --output-on-failure || status=1
phase "process tests against travo.exe"

echo "windows: total $((SECONDS - started)) s, $([ "$status" -eq 0 ] && echo passed || echo FAILED)"
exit "$status"
