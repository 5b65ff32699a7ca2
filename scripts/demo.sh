#!/usr/bin/env bash
# Builds everything and runs the demo: the virtual host plays a player who joins and types
# every command, and Travo answers it. The player's deeds, the chat and the button screen show
# in the terminal; the screen at the moment the light turns green is written to
# build/demo/travo-screen.svg.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
source scripts/sim-lib.sh

bin="$root/build/dev/bin"
out="$root/build/demo"
mkdir -p "$out"
rm -f "$out/ready" "$out/travo-screen.svg"

# The set-up and the build say two lines; their whole output shows only when they fail.
log="$out/build.log"
echo "demo: installing what is missing and building travo, travo-sim and the tests" \
     "(minutes the first time; the output goes to ${log#"$root"/})"
started=$SECONDS
if ! bash -c 'bash scripts/setup.sh && cmake --preset dev && cmake --build --preset dev' \
    > "$log" 2>&1; then
    cat "$log" >&2
    echo "demo: the set-up or the build failed; its output is above and in ${log#"$root"/}" >&2
    exit 1
fi
installed="$(sed -n 's/^Installing: / (installed: /p' "$log")"
echo "demo: built in $((SECONDS - started)) s${installed:+$installed)}"

work="$(mktemp -d)"
sim_pid=""
cleanup() {
    [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# The virtual host picks a free port and tells it through the ready file.
(cd "$out" && exec "$bin/travo-sim" --port 0 --script "$root/tools/sim/demo.script" \
    --ready-file "$out/ready") &
sim_pid=$!
port="$(sim_port "$out/ready" 10)" || { echo "demo: the virtual host did not start" >&2; exit 1; }

# Travo reads quintaro.travo from its working directory: the example, pointed at the port.
sed "5s/.*/$port/" "$root/examples/quintaro.travo" > "$work/quintaro.travo"
echo "demo: Travo runs in $work against the virtual host on port $port"
status=0
(cd "$work" && exec "$bin/travo") || status=$?
echo "demo: travo ended with status $status once the virtual host closed the connection:" \
     "it always ends so when its host goes away, and a supervisor starts it again"
wait "$sim_pid" || { echo "demo: the virtual host failed" >&2; exit 1; }
sim_pid=""
echo "demo: the picture of the screen as the light turns green is $out/travo-screen.svg"
echo "demo: after the light, rule 1 is missing from the rules panel: the light's last lamp is" \
     "the same button as rule 1, so clearing the lamps cleared rule 1 too (kept so on purpose;" \
     "!r1 shows it again)"
