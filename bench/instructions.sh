#!/usr/bin/env bash
# Instructions per packet for receive and dispatch, counted by callgrind in travo-bench's own
# loop thread (user space only; the kernel's share of recv/send is not in these figures).
# Each case runs with N and 2N packets of one kind; the difference divided by N leaves out the
# connection set-up and the end of the stream.
#   bench/instructions.sh [path/to/travo-bench]      N=2000 by default, N=... to change
set -euo pipefail
cd "$(dirname "$0")/.."

bench=${1:-build/bench/bin/travo-bench}
n=${N:-2000}
command -v valgrind >/dev/null || { echo "instructions.sh: valgrind is not installed" >&2; exit 1; }
[ -x "$bench" ] || { echo "instructions.sh: no $bench (build it first)" >&2; exit 1; }

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Instructions counted inside the toggled function over one run.
count() {
    local case=$1 packets=$2 fn=$3
    valgrind --tool=callgrind --callgrind-out-file="$out/cg" --toggle-collect="$fn" \
        "$bench" --instructions "$case" --packets "$packets" >/dev/null 2>"$out/log" ||
        { cat "$out/log" >&2; exit 1; }
    awk '/^summary:/ {print $2}' "$out/cg"
}

printf '%-36s %s\n' "receive + dispatch of one packet" "instructions"
for entry in "ignored:244-byte multi-car (ignored)" "keepalive:keep-alive (answered)" \
    "chat:chat line, not a command" "fb:!fb (one chat line back)" \
    "join:join (12 buttons, 6 lines back)" "anchor-ignored:bare read + split, multi-car"; do
    case=${entry%%:*}
    label=${entry#*:}
    fn='app::run_packet_loop*'
    [[ $case == anchor-* ]] && fn='bench::read_and_split*'
    one=$(count "$case" "$n" "$fn")
    two=$(count "$case" $((2 * n)) "$fn")
    printf '%-36s %d\n' "$label" $(((two - one) / n))
done
