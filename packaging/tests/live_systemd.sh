#!/usr/bin/env bash
# The .deb under a real systemd: boots Debian 12 in a container (systemd-nspawn -b on a root made
# once by debootstrap), installs the package there and runs travo@demo against travo-sim inside.
# It checks that the instance runs as the user travo in /etc/travo/demo, answers a join, is
# started again within RestartSec + 2 s after the host closes the connection, and ends with
# systemctl stop; that after a failure the journal names its likely cause (a wrong admin
# password, a wrong port, a wrong host), once per ended run and never after systemctl stop;
# that two instances are told apart in the journal; that an upgrade leaves a
# stopped instance stopped, removing the package stops everything and installing it again
# starts what is enabled; and that purging it leaves no enable link behind. It prints
# systemd-analyze security for the instance.
# Usage: TRAVO_LIVE_SYSTEMD=1 live_systemd.sh BUILD_DIR VERSION   (skipped without the variable)
#   TRAVO_LIVE_ROOT  the cached root (default /var/tmp/travo-live/bookworm; made when missing,
#                    with debootstrap from DEBIAN_MIRROR: 255 MB on disk)
#   KEEP=1           keep the scratch folder with the container's logs
source "$(dirname "$0")/lib.sh"
build="$1" version="$2"
[ "${TRAVO_LIVE_SYSTEMD:-0}" = 1 ] || skip "TRAVO_LIVE_SYSTEMD=1 runs it (CI does)"
[ "$(id -u)" -eq 0 ] || skip "needs root for systemd-nspawn"
for t in systemd-nspawn debootstrap cpack timeout; do
    command -v "$t" > /dev/null || skip "no $t (Debian: systemd-container, debootstrap)"
done
root="${TRAVO_LIVE_ROOT:-/var/tmp/travo-live/bookworm}"
mirror="${DEBIAN_MIRROR:-http://deb.debian.org/debian}"
started=$SECONDS

if [ ! -x "$root/lib/systemd/systemd" ]; then
    echo "live: making the Debian 12 root in $root (once)"
    rm -rf "$root.new"
    mkdir -p "$(dirname "$root")"
    timeout 900 debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus,adduser,procps \
        bookworm "$root.new" "$mirror" > "$scratch/debootstrap.log" 2>&1 ||
        fail "debootstrap: $(tail -5 "$scratch/debootstrap.log")"
    mv "$root.new" "$root"
fi

share="$scratch/share"
mkdir -p "$share"
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" > "$scratch/cpack.log" 2>&1 ||
    fail "cpack failed: $(cat "$scratch/cpack.log")"
debs=("$scratch/out"/travo_"$version"-1_*.deb)
[ -f "${debs[0]}" ] || fail "no .deb built"
cp "${debs[0]}" "$share/travo.deb"
cp "$(dirname "$0")/../../scripts/sim-lib.sh" "$share/"

# Runs inside the container as a service of its own once the system is up, and powers it off.
cat > "$share/travo-live.service" << 'UNIT'
[Unit]
Description=Travo live test
After=multi-user.target
[Service]
Type=oneshot
StandardOutput=append:/mnt/travo/inside.log
StandardError=append:/mnt/travo/inside.log
ExecStart=/bin/bash /mnt/travo/inside.sh
ExecStopPost=/bin/systemctl --no-block poweroff
UNIT

cat > "$share/inside.sh" << 'INSIDE'
set -u
cd /mnt/travo
source ./sim-lib.sh
unit=travo@demo.service
fail() { echo "FAIL: $*" > result; exit 1; }
now() { date +%s.%N; }
prop() { systemctl show -p "$1" --value "$unit"; }
# Waits up to SECONDS for a shell condition.
until_true() {
    local seconds="$1"; shift
    for _ in $(seq $((seconds * 10))); do eval "$1" && return 0; sleep 0.1; done
    return 1
}

dpkg -i travo.deb > dpkg.log 2>&1 || fail "dpkg -i: $(cat dpkg.log)"
restart_sec="$(prop RestartUSec)"
echo "RestartSec: $restart_sec"

# The first host: a player joins and asks for the page, then the host closes the connection.
mkdir -p sim1 sim2
printf '%s\n' 'wait 1' 'join ^7Racer' 'wait 1' 'say Racer !fb' 'wait 1.5' 'close' > sim1/script
(cd sim1 && exec travo-sim --plain --port 0 --script script --ready-file ready > out 2> err) &
sim1=$!
port="$(sim_port sim1/ready 10)" || fail "travo-sim did not start: $(cat sim1/err)"
mkdir -p /etc/travo/demo
sed "5s/.*/$port/" /usr/share/travo/examples/quintaro.travo > /etc/travo/demo/quintaro.travo
chown root:travo /etc/travo/demo/quintaro.travo
chmod 0640 /etc/travo/demo/quintaro.travo
systemctl start "$unit" || fail "systemctl start: $(systemctl status "$unit" 2>&1)"

# The main process is systemd's own fork until it has started the program.
until_true 5 '[ "$(ps -o comm= -p "$(prop MainPID)")" = travo ]' ||
    fail "travo does not run: $(systemctl status "$unit")"
pid="$(prop MainPID)"
user="$(ps -o user= -p "$pid")"
cwd="$(readlink "/proc/$pid/cwd")"
echo "main process $pid runs as $user in $cwd"
[ "$user" = travo ] || fail "travo runs as $user"
[ "$cwd" = /etc/travo/demo ] || fail "travo runs in $cwd"

# travo-sim ends right after it closed the connection.
until_true 20 '! kill -0 $sim1 2> /dev/null' || fail "the first host did not end: $(cat sim1/err)"
closed_at="$(now)"
wait "$sim1" || fail "the first host failed: $(cat sim1/err)"
grep -q 'Nuestro facebook es: Travo Racing$' sim1/out || fail "no answer to the join: $(cat sim1/out)"
[ "$(grep -c 'Nuestro facebook es: Travo Racing$' sim1/out)" -eq 3 ] ||
    fail "not greeted, welcomed and answered: $(cat sim1/out)"
echo "the first host was greeted, the player welcomed and answered"

# travo-check --brief ran in the unit's sandbox before travo, and the journal shows its line first.
brief="travo-check: \"/etc/travo/demo/quintaro.travo\": host \"127.0.0.1\", port $port, no admin password, no warnings"
journal_lines() { journalctl -u "$unit" -o cat --no-pager > journal.txt 2>&1; }
line_of() { grep -n -m1 -F -- "$1" journal.txt | cut -d: -f1; }
until_true 5 'journal_lines && [ -n "$(line_of "*Conectado a LFS version")" ]' ||
    fail "no banner in the journal: $(cat journal.txt)"
brief_at="$(line_of "$brief")"
banner_at="$(line_of "*Conectado a LFS version")"
[ -n "$brief_at" ] || fail "no --brief line in the journal: $(cat journal.txt)"
[ "$brief_at" -lt "$banner_at" ] || fail "the --brief line comes after the banner: $(cat journal.txt)"
echo "the journal begins the start with: $brief"

# After the run, the doctor tried the connection once (the first host may still have answered it,
# or be gone). Waited for, so that it cannot take the second host's place of travo.
doctor_at() {
    grep -n -F -- 'travo-check: "/etc/travo/demo/quintaro.travo": ' journal.txt |
        grep -v -F '": host "' | head -n 1 | cut -d: -f1
}
until_true 10 'journal_lines && [ -n "$(doctor_at)" ]' ||
    fail "no line of the doctor after the run: $(cat journal.txt)"
[ "$(doctor_at)" -gt "$(line_of "*Error al recibir los paquetes")" ] ||
    fail "the doctor's line comes before travo's last: $(cat journal.txt)"
echo "after the run: $(sed -n "$(doctor_at)p" journal.txt)"

# The second host on the same port: the restarted travo finds it by name this time, through the
# C library's lookup under the unit's system call filter.
grep -qw localhost /etc/hosts 2> /dev/null || echo '127.0.0.1 localhost' >> /etc/hosts
sed -i '2s/.*/localhost/' /etc/travo/demo/quintaro.travo
printf '%s\n' 'join ^7Second' 'wait 1' > sim2/script
(cd sim2 && exec travo-sim --plain --port "$port" --wait-client 30 --script script > out 2> err) &
sim2=$!
until_true 15 '[ "$(prop NRestarts)" -ge 1 ]' || fail "not restarted: $(systemctl status "$unit")"
restarted_at="$(now)"
gap="$(awk -v a="$closed_at" -v b="$restarted_at" 'BEGIN { printf "%.1f", b - a }')"
echo "restarted $gap s after the host closed the connection"
awk -v g="$gap" 'BEGIN { exit !(g <= 7.0) }' || fail "restarted after $gap s, not within 7 s"
until_true 15 '! kill -0 $sim2 2> /dev/null' || fail "the second host did not end"
wait "$sim2" || fail "the second host failed: $(cat sim2/err)"
grep -q 'Nuestro facebook es: Travo Racing$' sim2/out || fail "the restarted travo did not welcome"
echo "the restarted travo welcomed the second host's player"

# Now without a host it fails and is restarted every RestartSec; stop ends that.
pid="$(prop MainPID)"
timeout 20 systemctl stop "$unit" || fail "systemctl stop did not return"
state="$(systemctl is-active "$unit")"
# A stop that comes while the doctor looks into a failed run waits for it, and the unit keeps
# that run's result.
[ "$state" = inactive ] || { [ "$state" = failed ] && [ "$(prop Result)" = exit-code ]; } ||
    fail "after stop the unit is $state ($(prop Result))"
[ "$pid" != 0 ] && kill -0 "$pid" 2> /dev/null && fail "travo $pid still runs after stop"
echo "systemctl stop ended it ($state)"

systemd-analyze security --no-pager "$unit" > security.txt 2>&1
tail -1 security.txt

# Faults of the configuration, each named in the journal after travo's failure: a host that wants
# a password, and travo@fault given a wrong one, a port where nothing listens, a host name that
# does not exist. Restarting it in between is a stop by the operator: no doctor's line for it.
mkdir -p simP /etc/travo/fault
(cd simP && exec travo-sim --plain --forever --admin-password PW --port 0 --ready-file ready \
    > out 2> err) &
simP=$!
portP="$(sim_port simP/ready 10)" || fail "travo-sim P did not start: $(cat simP/err)"
fault=travo@fault.service
fault_doctor='travo-check: "/etc/travo/fault/quintaro.travo": '
# The journal of travo@fault from line $1 on.
fault_since() { journalctl -q -u "$fault" -o cat --no-pager | tail -n +"$1" > fault.txt; }
fault_mark() { journalctl -q -u "$fault" -o cat --no-pager | wc -l; }
# After line $1, travo's connect error and then the doctor's line holding $2.
cause_follows() {
    fault_since "$1"
    local e d
    e="$(grep -n -m1 -F '*Error al conectar a Live For Speed' fault.txt | cut -d: -f1)"
    d="$(grep -n -F -- "$fault_doctor" fault.txt | grep -F -- "$2" | head -n 1 | cut -d: -f1)"
    [ -n "$e" ] && [ -n "$d" ] && [ "$d" -gt "$e" ]
}
faults=(
    "8s/.*/wrong/|closed it during the handshake (a wrong admin password is a possible cause)"
    "5s/.*/1/|127.0.0.1:1 refused the connection: nothing listens on that port"
    "2s/.*/no-such-host.invalid/|the host name \"no-such-host.invalid\" was not found"
)
for f in "${faults[@]}"; do
    sed "2s/.*/127.0.0.1/; 5s/.*/$portP/; 8s/.*/PW/; ${f%%|*}" \
        /usr/share/travo/examples/quintaro.travo > /etc/travo/fault/quintaro.travo
    chown root:travo /etc/travo/fault/quintaro.travo
    chmod 0640 /etc/travo/fault/quintaro.travo
    mark=$(($(fault_mark) + 1))
    systemctl restart "$fault" || fail "systemctl restart $fault: $(systemctl status "$fault")"
    until_true 20 'cause_follows "$mark" "${f#*|}"' ||
        fail "no cause after the failure (${f#*|}): $(cat fault.txt)"
    echo "after the failure: $(grep -F -- "${f#*|}" fault.txt | head -n 1)"
done
# Right again: travo runs, and systemctl stop then adds no connection and no doctor's line.
sed "2s/.*/127.0.0.1/; 5s/.*/$portP/; 8s/.*/PW/" /usr/share/travo/examples/quintaro.travo \
    > /etc/travo/fault/quintaro.travo
right() { grep -c 'admin password right' simP/out || true; }
rights=$(($(right) + 1))
systemctl restart "$fault"
until_true 20 '[ "$(right)" -ge "$rights" ]' || fail "travo@fault did not connect: $(cat simP/out)"
until_true 5 '[ "$(ps -o comm= -p "$(systemctl show -p MainPID --value "$fault")")" = travo ]' ||
    fail "travo@fault does not run"
mark=$(($(fault_mark) + 1))
clients="$(grep -c 'client "TravoDEV"' simP/out)"
timeout 20 systemctl stop "$fault" || fail "systemctl stop $fault did not return"
sleep 2
[ "$(grep -c 'client "TravoDEV"' simP/out)" = "$clients" ] ||
    fail "systemctl stop made a connection: $(tail -n 3 simP/out)"
# The doctor's lines, not the check's before each start ("host ...").
doctor_lines() { grep -F -- "$fault_doctor" fault.txt | grep -vF -- "$fault_doctor"'host "' || true; }
fault_since "$mark"
[ -z "$(doctor_lines)" ] || fail "a doctor's line after systemctl stop: $(cat fault.txt)"
# One doctor's run at most for each run of travo that ended.
fault_since 1
runs="$(grep -c '^\*Error al ' fault.txt || true)"
checks="$(doctor_lines | wc -l)"
[ "$checks" -le "$runs" ] || fail "$checks doctor's lines for $runs runs: $(cat fault.txt)"
kill "$simP"
echo "systemctl stop added no connection and no line; $checks doctor's lines for $runs ended runs"

# Two hosts that stay up: travo.service and travo@demo on the first, travo@drift on the second.
mkdir -p simA simB /etc/travo/drift
(cd simA && exec travo-sim --plain --forever --port 0 --ready-file ready > out 2> err) &
simA=$!
(cd simB && exec travo-sim --plain --forever --port 0 --ready-file ready > out 2> err) &
simB=$!
portA="$(sim_port simA/ready 10)" || fail "travo-sim A did not start: $(cat simA/err)"
portB="$(sim_port simB/ready 10)" || fail "travo-sim B did not start: $(cat simB/err)"
configure() {
    sed "2s/.*/127.0.0.1/; 5s/.*/$2/" /usr/share/travo/examples/quintaro.travo > "$1/quintaro.travo"
    chown root:travo "$1/quintaro.travo"
    chmod 0640 "$1/quintaro.travo"
}
configure /etc/travo "$portA"
configure /etc/travo/demo "$portA"
configure /etc/travo/drift "$portB"
connections() { grep -c 'client "TravoDEV" connected' "$1/out"; }
# Waits until each host has seen N more connections than before.
connected_again() {
    local a=$(($(connections simA) + $1)) b=$(($(connections simB) + $2))
    shift 2
    "$@" || return 1
    until_true 20 "[ \$(connections simA) -ge $a ] && [ \$(connections simB) -ge $b ]"
}
connected_again 2 1 systemctl enable --now travo.service "$unit" travo@drift.service \
    > enable.log 2>&1 || fail "not connected after enable --now: $(cat enable.log simA/out simB/out)"

# Each instance's lines, travo's and the check's, carry the instance's name.
journalctl -u "$unit" -u travo@drift.service -o short --no-hostname --no-pager > instances.txt
for instance in "demo $portA" "drift $portB"; do
    name="${instance% *}" port="${instance#* }"
    grep -q " travo@$name\[[0-9]*\]: travo-check: .*, port $port," instances.txt ||
        fail "no check line of travo@$name: $(cat instances.txt)"
    grep -q " travo@$name\[[0-9]*\]: \*Conectado a LFS version" instances.txt ||
        fail "no banner of travo@$name: $(cat instances.txt)"
done
grep -E ' (travo|travo-check)\[[0-9]+\]: ' instances.txt &&
    fail "lines of an instance without its name: $(cat instances.txt)"
echo "the journal tells the instances apart:"
grep -E " travo@(demo|drift)\[[0-9]+\]: travo-check: .*port ($portA|$portB)," instances.txt |
    tail -n 2 | sed 's/^[^ ]* [^ ]* [^ ]* /  /'

# An upgrade leaves a stopped instance stopped and restarts a running one. Stopping travo@drift
# costs its host no connection of the doctor.
drift_clients="$(connections simB)"
systemctl stop travo@drift.service
sleep 1
[ "$(connections simB)" = "$drift_clients" ] || fail "systemctl stop made a connection: $(cat simB/out)"
connected_again 1 0 dpkg -i travo.deb > dpkg.log 2>&1 || fail "not restarted by an upgrade: $(cat dpkg.log)"
[ "$(systemctl is-active travo@drift.service)" = inactive ] ||
    fail "an upgrade started the stopped travo@drift"
echo "an upgrade restarted travo@demo and left the stopped travo@drift stopped"

# Removing the package stops everything; installing it again starts what is enabled.
dpkg -r travo > dpkg.log 2>&1 || fail "dpkg -r: $(cat dpkg.log)"
pgrep -x travo > /dev/null && fail "travo still runs after dpkg -r: $(pgrep -a -x travo)"
connected_again 2 1 dpkg -i travo.deb > dpkg.log 2>&1 ||
    fail "not started again by a reinstall: $(cat dpkg.log; systemctl status 'travo*')"
echo "dpkg -r stopped travo, travo@demo and travo@drift; dpkg -i started them again"

# For a reader of the scratch folder (KEEP=1): the journal of every instance.
journalctl -u 'travo*' -o short --no-hostname --no-pager > journal-all.txt 2>&1

# Purging leaves no link to a missing unit.
dpkg -r travo > dpkg.log 2>&1 || fail "dpkg -r: $(cat dpkg.log)"
dpkg -P travo > dpkg.log 2>&1 || fail "dpkg -P: $(cat dpkg.log)"
kill "$simA" "$simB"
left="$(find /etc/systemd/system -name 'travo.service' -o -name 'travo@*')"
[ -z "$left" ] || fail "purge left: $left"
dangling="$(find /etc/systemd -xtype l)"
[ -z "$dangling" ] || fail "links to nothing: $dangling"
echo "dpkg -P left no link"
echo ok > result
INSIDE

echo "live: booting the container"
status=0
timeout 300 systemd-nspawn -q -D "$root" --register=no --keep-unit --volatile=overlay \
    --private-network --bind="$share:/mnt/travo" \
    --bind-ro="$share/travo-live.service:/etc/systemd/system/travo-live.service" \
    -b systemd.wants=travo-live.service > "$scratch/boot.log" 2>&1 || status=$?
[ -f "$share/inside.log" ] && sed 's/^/live:   /' "$share/inside.log"
[ "$status" -eq 0 ] || fail "systemd-nspawn ended with $status: $(tail -20 "$scratch/boot.log")"
[ -f "$share/result" ] || fail "the test did not run in the container: $(tail -20 "$scratch/boot.log")"
[ "$(cat "$share/result")" = ok ] || fail "$(cat "$share/result")"
echo "live: systemd-analyze security travo@demo.service:"
sed 's/^/live:   /' "$share/security.txt"
echo "live systemd: ok in $((SECONDS - started)) s"
