#!/usr/bin/env bash
# The man pages render without a warning from man or groff, carry the project's version, and
# state what an operator looks them up for.
# Usage: man_test.sh GENERATED_DIR VERSION
source "$(dirname "$0")/lib.sh"
gen="$1" version="$2"
command -v groff > /dev/null || skip "no groff"

for page in travo travo-check travo-sim; do
    src="$gen/$page.1"
    [ -f "$src.gz" ] || fail "$page.1.gz was not built"
    zcat "$src.gz" | cmp -s - "$src" || fail "$page.1.gz is not $page.1"
    warnings="$(groff -t -man -ww -z "$src" 2>&1)"
    [ -z "$warnings" ] || fail "$page.1: groff: $warnings"
    if command -v man > /dev/null; then
        warnings="$(MANWIDTH=80 man --warnings -l "$src" 2>&1 > "$scratch/$page.txt")"
        [ -z "$warnings" ] || fail "$page.1: man: $warnings"
    else
        groff -t -man -Tutf8 "$src" > "$scratch/$page.txt" 2> /dev/null
    fi
    grep -q "travo $version" "$scratch/$page.txt" || fail "$page.1 does not name version $version"
    grep -q 'EXIT STATUS' "$scratch/$page.txt" || fail "$page.1 has no exit status"
done
# The line map and the console lines, where operators look for them.
for want in '23-27' '36 ' 'Error al recibir los paquetes de Live For Speed' 'status 255'; do
    grep -qF -- "$want" "$scratch/travo.txt" || fail "travo(1) lacks \"$want\""
done
for want in '--connect' '--timeout SECONDS' '--brief' '--watch' '--version'; do
    grep -qF -- "$want" "$scratch/travo-check.txt" || fail "travo-check(1) lacks \"$want\""
done
grep -qF -- '--host-version TEXT' "$scratch/travo-sim.txt" || fail "travo-sim(1) lacks --host-version"
echo "man: ok"
