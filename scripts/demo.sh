#!/usr/bin/env bash
# Builds everything and runs the demo: the virtual host plays a player who joins and types
# every command, and Travo answers it. The chat and the button screen show in the terminal;
# the screen with the welcome panel, the rules panel and the start light is written to
# build/demo/travo-screen.svg.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
source scripts/sim-lib.sh

bash scripts/setup.sh
cmake --preset dev >/dev/null
cmake --build --preset dev

bin="$root/build/dev/bin"
out="$root/build/demo"
mkdir -p "$out"
rm -f "$out/ready" "$out/travo-screen.svg"
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
echo "demo: travo ended with status $status once the virtual host closed the connection" \
     "(it always ends so: 255 is main's -1)"
echo "demo: after the light the rules panel lacks rule 1: lamp 4 and rule 1 share ClickID 10," \
     "and the light deletes its lamps at the end"

wait "$sim_pid" || { echo "demo: the virtual host failed" >&2; exit 1; }
sim_pid=""
echo "demo: the picture of the screen is $out/travo-screen.svg"
