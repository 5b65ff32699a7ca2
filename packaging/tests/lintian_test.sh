#!/usr/bin/env bash
# Debian's policy checker on the .deb: no error and no warning. Findings that are intended are
# overridden in packaging/debian/lintian-overrides, each with its reason.
# Usage: lintian_test.sh BUILD_DIR VERSION
source "$(dirname "$0")/lib.sh"
build="$1" version="$2"
command -v lintian > /dev/null || skip "no lintian (Debian package lintian)"

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" > "$scratch/cpack.log" 2>&1 ||
    fail "cpack failed: $(cat "$scratch/cpack.log")"
debs=("$scratch/out"/travo_"$version"-1_*.deb)
[ -f "${debs[0]}" ] || fail "no .deb built"
# Exit status 2 means lintian itself failed; findings are read from its output.
status=0
lintian --no-tag-display-limit "${debs[0]}" > "$scratch/lintian.out" 2>&1 || status=$?
[ "$status" -le 1 ] || fail "lintian failed ($status): $(cat "$scratch/lintian.out")"
if grep -E '^[EW]: ' "$scratch/lintian.out"; then
    fail "lintian reports errors or warnings"
fi
echo "lintian: ok"
