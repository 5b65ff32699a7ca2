#!/usr/bin/env bash
# Builds the .deb and the .tar.gz from the build folder, checks what they hold, and unpacks the
# .deb with dpkg into an empty root (deb_system_test.sh installs it with its scripts).
# Usage: deb_test.sh BUILD_DIR VERSION RUNTIME_LINKED_IN (ON: the C++ runtime is linked in)
source "$(dirname "$0")/lib.sh"
build="$1" version="$2" linked_in="${3:-OFF}"
command -v dpkg-deb > /dev/null || skip "no dpkg-deb"

out="$scratch/out"
cpack --config "$build/CPackConfig.cmake" -G 'DEB;TGZ' -B "$out" > "$scratch/cpack.log" 2>&1 ||
    fail "cpack failed: $(cat "$scratch/cpack.log")"
debs=("$out"/travo_"$version"-1_*.deb)
[ -f "${debs[0]}" ] || fail "no travo_$version-1_*.deb in: $(ls "$out")"
deb="${debs[0]}"
tgz="$out/travo-$version-Linux.tar.gz"
[ -f "$tgz" ] || fail "no $(basename "$tgz") in: $(ls "$out")"

# --- control fields: the version comes from the project, the user needs adduser ---
[ "$(dpkg-deb -f "$deb" Package)" = travo ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version-1" ] ||
    fail "version $(dpkg-deb -f "$deb" Version), want $version-1"
dpkg-deb -f "$deb" Depends | grep -w adduser > /dev/null || fail "does not depend on adduser"
dpkg-deb -f "$deb" Depends | grep -w libc6 > /dev/null || fail "no library dependencies"
if [ "$linked_in" = ON ]; then
    # The C++ runtime is linked in: the C library is all the programs need.
    dpkg-deb -f "$deb" Depends | grep -Eq 'libstdc|libgcc' &&
        fail "depends on the C++ runtime: $(dpkg-deb -f "$deb" Depends)"
fi
[ "$(dpkg-deb -f "$deb" Section)" = net ] || fail "section $(dpkg-deb -f "$deb" Section)"

# --- contents ---
dpkg-deb --contents "$deb" | awk '{print $NF}' > "$scratch/contents"
for f in "${installed_files[@]}"; do
    grep -qx "./usr/$f" "$scratch/contents" || fail "the .deb lacks /usr/$f"
done
grep -v '^\./usr/' "$scratch/contents" && fail "the .deb installs outside /usr"
for f in share/doc/travo/changelog.Debian.gz share/lintian/overrides/travo; do
    grep -qx "./usr/$f" "$scratch/contents" || fail "the .deb lacks /usr/$f"
done
# grep reads to the end (no -q): a reader that leaves early makes the writer die of SIGPIPE,
# which pipefail takes for a failure.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/share/doc/travo/copyright |
    grep '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' > /dev/null ||
    fail "the copyright file is not machine-readable"
tar -tzf "$tgz" > "$scratch/tgz-contents"
for f in "${installed_files[@]}"; do
    grep -qx "travo-$version-Linux/$f" "$scratch/tgz-contents" || fail "the .tar.gz lacks $f"
done
grep -E 'changelog.Debian|lintian' "$scratch/tgz-contents" && fail "the .tar.gz has Debian's files"
# The archive is unpacked into /usr/local, so its units start the program there.
tar -xzOf "$tgz" "travo-$version-Linux/lib/systemd/system/travo@.service" |
    grep -x 'ExecStart=/usr/local/bin/travo' > /dev/null || fail "the .tar.gz units do not start /usr/local/bin/travo"

# --- dpkg into an empty root (unpack only: the maintainer scripts would run chrooted there) ---
root="$scratch/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates"
touch "$root/var/lib/dpkg/status" "$root/var/lib/dpkg/available"
dpkg --root="$root" --force-depends --force-not-root --unpack "$deb" > "$scratch/dpkg.log" 2>&1 ||
    fail "dpkg --unpack failed: $(cat "$scratch/dpkg.log")"
dpkg --root="$root" -s travo | grep -x 'Status: install ok unpacked' > /dev/null ||
    fail "dpkg does not know the package: $(dpkg --root="$root" -s travo 2>&1)"
for f in "${installed_files[@]}"; do
    [ -f "$root/usr/$f" ] || fail "dpkg did not install /usr/$f"
done
if [ "$linked_in" = ON ] && command -v readelf > /dev/null; then
    for p in travo travo-check travo-sim; do
        needed="$(readelf -d "$root/usr/bin/$p" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort | xargs)"
        [ "$needed" = "ld-linux-x86-64.so.2 libc.so.6" ] || fail "$p needs $needed"
    done
fi
for u in travo.service travo@.service; do
    grep -qx 'ExecStart=/usr/bin/travo' "$root/usr/lib/systemd/system/$u" ||
        fail "$u in the .deb does not start /usr/bin/travo"
done

# --- maintainer scripts ---
ctl="$scratch/control"
dpkg-deb -e "$deb" "$ctl"
for s in postinst prerm postrm; do
    [ -x "$ctl/$s" ] || fail "$s missing or not executable"
    sh -n "$ctl/$s" || fail "$s: syntax"
done
echo "deb: ok"
