#!/usr/bin/env bash
# Runs a Windows program under Wine in a prefix of its own: wine-run.sh PREFIX PROGRAM [ARGS...]
# The cross build's test emulator, so that gtest discovery and ctest need no set-up by hand.
set -euo pipefail

export WINEPREFIX="$1"
shift
export WINEDEBUG=-all
# No Mono or Gecko installer dialogs when the prefix is made.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY

# A wineserver started by a program would inherit its pipes and keep ctest or ninja waiting for
# them to close. One with its stdio elsewhere, outliving each program by a while, avoids that and
# saves a server start per program. When one is running already this returns at once.
mkdir -p "$WINEPREFIX"
wineserver -p30 </dev/null >/dev/null 2>&1 || true

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    # Parallel tests would otherwise all make the prefix at once. The lock's descriptor is not
    # handed on: the services that wineboot leaves running would hold the lock for their lifetime.
    exec 9>"$WINEPREFIX.lock"
    flock 9
    [ -f "$WINEPREFIX/system.reg" ] || wineboot -i </dev/null >/dev/null 2>&1 9>&-
    exec 9>&-
fi

exec wine "$@"
