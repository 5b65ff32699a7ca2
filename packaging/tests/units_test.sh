#!/usr/bin/env bash
# systemd's own check of the installed units, the template through an instance. It reports
# mistakes (unknown keys, bad values, a program that is not there) as warnings and still exits
# 0, so any output at all is a failure.
# Usage: units_test.sh BUILD_DIR CONFIG
source "$(dirname "$0")/lib.sh"
build="$1" config="${2:-}"
command -v systemd-analyze > /dev/null || skip "no systemd-analyze"

prefix="$scratch/prefix"
cmake --install "$build" --prefix "$prefix" ${config:+--config "$config"} > "$scratch/install.log" ||
    fail "cmake --install failed: $(cat "$scratch/install.log")"
units="$scratch/units"
mkdir -p "$units"
cp "$prefix/lib/systemd/system/travo.service" "$prefix/lib/systemd/system/travo@.service" "$units/"
ln -s travo@.service "$units/travo@cruise.service"

for u in travo.service travo@cruise.service; do
    if ! report="$(systemd-analyze verify "$units/$u" 2>&1)" || [ -n "$report" ]; then
        fail "$u: ${report:-systemd-analyze failed}"
    fi
done
echo "units: ok"
