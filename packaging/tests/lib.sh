# Shared by the packaging tests: a scratch folder that goes away, and failing with a reason.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/sim-lib.sh"

scratch="$(mktemp -d "${TMPDIR:-/tmp}/travo-pkg.XXXXXX")"
pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    [ -n "${KEEP:-}" ] || rm -rf "$scratch"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

skip() {
    echo "SKIP: $*"
    exit 77
}

# Files every Linux installation has, relative to the prefix.
installed_files=(
    bin/travo
    bin/travo-sim
    bin/travo-check
    share/travo/examples/quintaro.travo
    share/doc/travo/README.md
    share/doc/travo/operations.md
    share/doc/travo/windows.md
    share/doc/travo/performance.md
    share/doc/travo/copyright
    share/man/man1/travo.1.gz
    share/man/man1/travo-check.1.gz
    share/man/man1/travo-sim.1.gz
    lib/systemd/system/travo.service
    lib/systemd/system/travo@.service
)

# Every relative link of the Markdown files in DIR names a file there (and an anchor that one of
# its headings makes, when it has one). Usage: links_resolve DIR
links_resolve() {
    local dir="$1" doc target file anchor
    for doc in "$dir"/*.md; do
        while read -r target; do
            file="${target%%#*}" anchor=""
            [ "$file" = "$target" ] || anchor="${target#*#}"
            [ -n "$file" ] || file="$(basename "$doc")"
            [ -f "$dir/$file" ] || fail "$(basename "$doc") links to $target: no $file beside it"
            if [ -n "$anchor" ]; then
                grep '^#' "$dir/$file" | sed 's/^#* *//' | tr 'A-Z ' 'a-z-' | tr -cd 'a-z0-9_\n-' |
                    grep -qx -- "$anchor" || fail "$(basename "$doc") links to $target: no such heading"
            fi
        done < <(grep -o '\]([^)]*)' "$doc" | sed 's/^](//; s/)$//' | grep -v '^[a-z]*:' || true)
    done
}

# Runs the installed travo against the installed travo-sim: join, "!fb", then the virtual host
# closes the connection. The banner's fixed " V3.0" is the project's version without its last
# part. Usage: demo BINDIR EXAMPLE VERSION
demo() {
    local bin="$1" example="$2" version="$3" run="$scratch/run"
    mkdir -p "$run"
    printf '%s\n' 'wait 0.3' 'join ^7Racer' 'wait 0.5' 'say Racer !fb' 'wait 1' > "$run/short.script"
    (cd "$run" && exec "$bin/travo-sim" --plain --port 0 --host-version 0.7G \
        --script short.script --ready-file ready > sim.out 2> sim.err) &
    local sim=$!
    pids+=("$sim")
    local port
    port="$(sim_port "$run/ready" 10)" || fail "travo-sim did not start: $(cat "$run/sim.err")"

    sed "5s/.*/$port/" "$example" > "$run/quintaro.travo"
    local status=0
    (cd "$run" && exec timeout 30 "$bin/travo" > travo.out 2> travo.err) || status=$?
    wait "$sim" || fail "travo-sim failed: $(cat "$run/sim.err")"

    [ "$status" -eq 255 ] || fail "travo ended with status $status, not 255"
    grep -q " V${version%.*}\$" "$run/travo.out" ||
        fail "no banner with V${version%.*}: $(cat "$run/travo.out")"
    grep -qx '\*Conectado a LFS version: 0.7G, InSim creado con la version: 9' "$run/travo.out" ||
        fail "no version line: $(cat "$run/travo.out")"
    [ "$(cat "$run/travo.err")" = "*Error al recibir los paquetes de Live For Speed" ] ||
        fail "unexpected standard error: $(cat "$run/travo.err")"
    # The example's values reach the host: in the greeting, the welcome lines and the answer to
    # "!fb", and in the welcome panel.
    [ "$(grep -c 'Nuestro facebook es: Travo Racing$' "$run/sim.out")" -eq 3 ] ||
        fail "not greeted, welcomed and answered: $(cat "$run/sim.out")"
    grep -q 'Bienvenido' "$run/sim.out" || fail "no welcome panel: $(cat "$run/sim.out")"
}
