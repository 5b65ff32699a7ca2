#!/usr/bin/env bash
# Installs the .deb with dpkg -i for real, maintainer scripts included, on a throw-away copy of
# this system: an overlay over / in a private mount namespace, so nothing reaches the real one.
# Usage: deb_system_test.sh BUILD_DIR VERSION
source "$(dirname "$0")/lib.sh"
build="$1" version="$2"
[ "$(id -u)" -eq 0 ] || skip "needs root for the overlay"
for t in unshare chroot runuser dpkg; do command -v "$t" > /dev/null || skip "no $t"; done
dpkg -s travo > /dev/null 2>&1 && skip "travo is installed on this system"
unshare -m true 2> /dev/null || skip "no private mount namespace here"

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" > "$scratch/cpack.log" 2>&1 ||
    fail "cpack failed: $(cat "$scratch/cpack.log")"
debs=("$scratch/out"/travo_"$version"-1_*.deb)
[ -f "${debs[0]}" ] || fail "no .deb built"

cat > "$scratch/inside.sh" << 'INSIDE'
set -u
fail() { echo "FAIL: $*"; exit 1; }
dpkg -i /tmp/travo.deb > /tmp/dpkg.log 2>&1 || fail "dpkg -i: $(cat /tmp/dpkg.log)"
getent passwd travo | grep -q ':/nonexistent:/usr/sbin/nologin$' || fail "user: $(getent passwd travo)"
[ "$(id -gn travo)" = travo ] || fail "the user's group is $(id -gn travo)"
[ "$(stat -c '%U:%G %a' /etc/travo)" = "root:travo 750" ] ||
    fail "/etc/travo is $(stat -c '%U:%G %a' /etc/travo)"
# The configuration as the documentation installs it: the service reads it, others cannot.
install -o root -g travo -m 0640 /usr/share/travo/examples/quintaro.travo /etc/travo/
runuser -u travo -- travo-check /etc/travo/quintaro.travo > /dev/null ||
    fail "the service user cannot read its configuration"
runuser -u nobody -- travo-check /etc/travo/quintaro.travo > /dev/null 2>&1 &&
    fail "another user can read the configuration"
# Installing again runs postinst again, as an upgrade does.
dpkg -i /tmp/travo.deb > /tmp/dpkg.log 2>&1 || fail "dpkg -i again: $(cat /tmp/dpkg.log)"
[ "$(grep -c '^travo:' /etc/passwd)" -eq 1 ] || fail "the user exists twice"
chmod 0700 /etc/travo
dpkg -i /tmp/travo.deb > /tmp/dpkg.log 2>&1 || fail "dpkg -i a third time: $(cat /tmp/dpkg.log)"
[ "$(stat -c %a /etc/travo)" = 700 ] || fail "postinst changed the operator's /etc/travo"
# Nothing is enabled by the package; what the operator enables goes again with a purge.
find /etc/systemd/system -name 'travo*' 2> /dev/null | grep . && fail "the package enabled units"
mkdir -p /etc/travo/cruise
if systemctl --version > /dev/null 2>&1; then
    systemctl enable travo.service travo@cruise.service > /tmp/enable.log 2>&1 ||
        fail "systemctl enable: $(cat /tmp/enable.log)"
else
    mkdir -p /etc/systemd/system/multi-user.target.wants
    for u in travo.service travo@cruise.service; do
        ln -s /lib/systemd/system/"${u/@cruise/@}" /etc/systemd/system/multi-user.target.wants/$u
    done
fi
[ -L /etc/systemd/system/multi-user.target.wants/travo@cruise.service ] || fail "not enabled"
dpkg -r travo > /tmp/dpkg.log 2>&1 || fail "dpkg -r: $(cat /tmp/dpkg.log)"
[ -f /etc/travo/quintaro.travo ] || fail "removing the package removed the configuration"
[ -e /usr/bin/travo ] && fail "the program is still there"
dpkg -P travo > /tmp/dpkg.log 2>&1 || fail "dpkg -P: $(cat /tmp/dpkg.log)"
[ -f /etc/travo/quintaro.travo ] || fail "purging the package removed the configuration"
left="$(find /etc/systemd/system -name 'travo*' 2> /dev/null)"
[ -z "$left" ] || fail "purge left: $left"
dangling="$(find /etc/systemd -xtype l 2> /dev/null)"
[ -z "$dangling" ] || fail "links to nothing: $dangling"
echo inside-ok
INSIDE

user_before=no
getent passwd travo > /dev/null && user_before=yes
status=0
unshare -m --propagation private bash -c '
    set -e
    o="$1/overlay"
    mkdir -p "$o"
    mount -t tmpfs none "$o"
    mkdir -p "$o/upper" "$o/work" "$o/merged"
    mount -t overlay overlay -o "lowerdir=/,upperdir=$o/upper,workdir=$o/work" "$o/merged" ||
        exit 77
    mount --rbind /proc "$o/merged/proc"
    mount --rbind /dev "$o/merged/dev"
    cp "$2" "$o/merged/tmp/travo.deb"
    cp "$1/inside.sh" "$o/merged/tmp/inside.sh"
    exec chroot "$o/merged" bash /tmp/inside.sh
' _ "$scratch" "${debs[0]}" > "$scratch/inside.log" 2>&1 || status=$?
[ "$status" -eq 77 ] && skip "no overlay mount here: $(cat "$scratch/inside.log")"
[ "$status" -eq 0 ] && grep -qx inside-ok "$scratch/inside.log" ||
    fail "$(cat "$scratch/inside.log")"
if [ "$user_before" = no ]; then
    getent passwd travo > /dev/null && fail "the user reached the real system"
fi
echo "deb system: ok"
