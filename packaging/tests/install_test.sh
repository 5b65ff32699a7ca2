#!/usr/bin/env bash
# Installs into a temporary prefix and runs the installed programs from there.
# Usage: install_test.sh BUILD_DIR CONFIG VERSION
source "$(dirname "$0")/lib.sh"
build="$1" config="${2:-}" version="${3:-}"
prefix="$scratch/prefix"

cmake --install "$build" --prefix "$prefix" ${config:+--config "$config"} > "$scratch/install.log" ||
    fail "cmake --install failed: $(cat "$scratch/install.log")"
for f in "${installed_files[@]}"; do
    [ -f "$prefix/$f" ] || fail "not installed: $f"
done
for p in travo travo-sim travo-check; do
    [ -x "$prefix/bin/$p" ] || fail "not executable: bin/$p"
done
# The configuration holds a password and the units are not programs: no write or execute bits
# beyond the owner's.
for f in share/travo/examples/quintaro.travo lib/systemd/system/travo.service; do
    mode="$(stat -c %a "$prefix/$f")"
    [ "$mode" = 644 ] || fail "$f has mode $mode"
done

# The units start the program that was installed with them.
for u in travo.service travo@.service; do
    grep -qx "ExecStart=$prefix/bin/travo" "$prefix/lib/systemd/system/$u" ||
        fail "$u does not start $prefix/bin/travo: $(grep ExecStart "$prefix/lib/systemd/system/$u")"
    grep -qx "Documentation=file:$prefix/share/doc/travo/operations.md" \
        "$prefix/lib/systemd/system/$u" || fail "$u does not point at the installed documentation"
done

# The tools tell their version, the project's (demo checks that travo's banner agrees).
for p in travo-check travo-sim; do
    [ "$("$prefix/bin/$p" --version)" = "$p $version" ] ||
        fail "$p --version: $("$prefix/bin/$p" --version 2>&1)"
done

# The documents sit side by side, and the README's links find them.
links_resolve "$prefix/share/doc/travo"
grep -q 'Permission is hereby granted' "$prefix/share/doc/travo/copyright" ||
    fail "the licence is not installed"

# The installed example is clean for the installed checker.
"$prefix/bin/travo-check" "$prefix/share/travo/examples/quintaro.travo" > "$scratch/check.out" ||
    fail "travo-check finds fault with the installed example: $(cat "$scratch/check.out")"

demo "$prefix/bin" "$prefix/share/travo/examples/quintaro.travo" "$version"
echo "install: ok"
