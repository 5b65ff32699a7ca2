#!/usr/bin/env bash
# Runs travo under valgrind memcheck against the virtual host: a join, every command except the
# start light, keep-alives, then the host closes. Passes when travo ends with its receive error
# and status 255 and memcheck reports no error and no leak.
#
#   scripts/valgrind-check.sh [BIN_DIR]     BIN_DIR holds travo and travo-sim (default build/dev/bin)
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
source scripts/sim-lib.sh
bin="$(cd "${1:-build/dev/bin}" && pwd)"

work="$(mktemp -d)"
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The commands are sent at once; travo answers them whenever it gets to them. The waits only
# leave it time to do so under valgrind: a slower run sees fewer answers, never a failure.
cat >"$work/session.script" <<'EOF'
wait 1
join ^7Racer
say Racer !fb
say Racer !web
say Racer !r1
say Racer !r0
chat 0 ^L!fb
chat 1 x!web
wait 4
close
EOF

(cd "$work" && exec "$bin/travo-sim" --port 0 --keepalive 0.5 --plain --wait-client 120 \
    --script "$work/session.script" --ready-file "$work/ready" >"$work/sim.out" 2>&1) &
sim_pid=$!
port="$(sim_port "$work/ready" 10)" ||
    { echo "valgrind-check: the virtual host did not start" >&2; exit 1; }
secret="vg-Secret-7731"
sed -e "5s/.*/$port/" -e "8s/.*/$secret/" "$root/examples/quintaro.travo" >"$work/quintaro.travo"

status=0
(cd "$work" && exec valgrind --error-exitcode=99 --leak-check=full --track-fds=no \
    --log-file="$work/memcheck.log" "$bin/travo" >"$work/travo.out" 2>"$work/travo.err") ||
    status=$?
wait "$sim_pid" || true
sim_pid=""

fail=0
if [ "$status" -ne 255 ]; then
    echo "valgrind-check: travo ended with status $status, not 255" >&2
    fail=1
fi
if ! grep -q "ERROR SUMMARY: 0 errors" "$work/memcheck.log"; then
    echo "valgrind-check: memcheck found errors" >&2
    fail=1
fi
if [ "$(cat "$work/travo.err")" != "*Error al recibir los paquetes de Live For Speed" ]; then
    echo "valgrind-check: unexpected standard error:" >&2
    cat "$work/travo.err" >&2
    fail=1
fi
if grep -q -- "$secret" "$work/travo.out" "$work/travo.err" "$work/sim.out"; then
    echo "valgrind-check: the admin password was printed" >&2
    fail=1
fi
answers=$(grep -c "Nuestro facebook\|gina web" "$work/sim.out" || true)
if [ "$fail" -ne 0 ]; then
    cat "$work/memcheck.log" >&2
    exit 1
fi
echo "valgrind-check: status 255, $(grep -o "ERROR SUMMARY: [0-9]* errors" "$work/memcheck.log")," \
    "$answers chat answers seen by the host"
