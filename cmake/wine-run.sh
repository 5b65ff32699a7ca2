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

# The first program of a Wine server also starts its services, which keep that program's
# output open: a test's pipe would keep ctest or ninja (which lists the tests after linking)
# waiting until the server ends. So the server is started here with its stdio elsewhere, lasting
# 30 s after the last program, and a new one gets its services from wineboot, which also makes
# the prefix on first use. The lock keeps parallel tests from doing either twice; it is not
# handed on, or the server and services would hold it for their lifetime.
mkdir -p "$WINEPREFIX"
exec 9>"$WINEPREFIX.lock"
flock 9
new_server=0
wineserver -p30 </dev/null >/dev/null 2>&1 9>&- || new_server=$?
# wineserver exits with 2 when a server for the prefix is running already.
if [ "$new_server" -eq 0 ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i </dev/null >/dev/null 2>&1 9>&-
fi
exec 9>&-

exec wine "$@"
