#!/usr/bin/env bash
# Windows build: builds the .zip, checks what it holds, and runs its travo-forever.cmd under
# Wine against the packaged travo-sim.exe: travo runs, the virtual host goes away, and the
# .cmd names the likely cause and starts travo again after its pause, and again.
# Usage: windows_test.sh BUILD_DIR VERSION EMULATOR...
source "$(dirname "$0")/lib.sh"
build="$1" version="$2"
shift 2
emu=("$@")
[ ${#emu[@]} -gt 0 ] || skip "no emulator to run Windows programs"

out="$scratch/out"
cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$out" > "$scratch/cpack.log" 2>&1 ||
    fail "cpack failed: $(cat "$scratch/cpack.log")"
zip="$out/travo-$version-win64.zip"
[ -f "$zip" ] || fail "no $(basename "$zip") in: $(ls "$out")"
# Made again a second later, it is the same: its time stamps are the last commit's.
sleep 1
cpack --config "$build/CPackConfig.cmake" -G ZIP -B "$scratch/again" > "$scratch/cpack.log" 2>&1 ||
    fail "cpack failed: $(cat "$scratch/cpack.log")"
cmp "$zip" "$scratch/again/$(basename "$zip")" || fail "the .zip differs when made again"
(cd "$scratch" && cmake -E tar xf "$zip") || fail "cannot unpack $zip"
top="$scratch/travo-$version-win64"
# One folder: the programs, the example beside travo.exe, the texts.
want_files=(travo.exe travo-check.exe travo-sim.exe travo-forever.cmd quintaro.travo README.txt
    LICENSE.txt docs/README.md docs/windows.md docs/operations.md docs/performance.md)
(cd "$scratch" && find "travo-$version-win64" -type f | sort) > "$scratch/zip-files"
printf "travo-$version-win64/%s\n" "${want_files[@]}" | sort | diff - "$scratch/zip-files" ||
    fail "the .zip does not hold what it should (see above)"
# Notepad's line ends in the texts; cmd.exe can lose its way to a label in a batch file with
# bare LF line ends.
for f in travo-forever.cmd quintaro.travo README.txt LICENSE.txt; do
    grep -qv $'\r$' "$top/$f" && fail "$f has lines without CR LF"
done
cmp -s <(tr -d '\r' < "$top/quintaro.travo") "$(dirname "$0")/../../examples/quintaro.travo" ||
    fail "quintaro.travo differs from the example in more than its line ends"
grep -q "Travo $version for Windows" "$top/README.txt" || fail "README.txt does not name $version"
grep -q 'Permission is hereby granted' "$top/LICENSE.txt" || fail "LICENSE.txt is not the licence"
# What the documents refer to is in the folder too.
links_resolve "$top/docs"
# README.txt is enough to mend a failed connection: travo's two error lines and the doctor.
for line in '*Error al conectar a Live For Speed' '*Error al recibir los paquetes de Live For Speed' \
    'travo-check --connect quintaro.travo'; do
    grep -qF -- "$line" "$top/README.txt" || fail "README.txt does not explain $line"
done

win() { local p; p="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"; echo "Z:${p//\//\\}"; }
forever="$(win "$top/travo-forever.cmd")"

# A folder that does not exist is refused at once instead of failing every 5 seconds.
status=0
"${emu[@]}" cmd /c "$forever" "$(win "$scratch")\\absent" > /dev/null 2>&1 < /dev/null || status=$?
[ "$status" -eq 2 ] || fail "travo-forever.cmd with a missing folder ended with $status, not 2"

host="$scratch/host"
mkdir -p "$host"
printf '%s\r\n' 'wait 0.3' 'join ^7Racer' 'wait 0.5' 'say Racer !fb' 'wait 1' > "$host/short.script"
(cd "$host" && exec "${emu[@]}" "$top/travo-sim.exe" --plain --port 0 --script short.script \
    --ready-file ready > sim.out 2>&1 < /dev/null) &
pids+=($!)
port="$(sim_port "$host/ready" 60)" || fail "travo-sim.exe did not start: $(cat "$host/sim.out")"
# From the folder, as README.txt says: the checker passes the example as it comes, and then
# travo-forever.cmd runs travo.exe there against the virtual host.
status=0
(cd "$top" && "${emu[@]}" travo-check.exe quintaro.travo > "$scratch/check.out" 2>&1 < /dev/null) ||
    status=$?
[ "$status" -eq 0 ] || fail "travo-check quintaro.travo ended with $status: $(cat "$scratch/check.out")"
"${emu[@]}" "$top/travo-check.exe" --version > "$scratch/version.out" 2>&1 < /dev/null || true
[ "$(tr -d '\r' < "$scratch/version.out")" = "travo-check $version" ] ||
    fail "travo-check.exe --version: $(cat "$scratch/version.out")"
sed -i "5s/.*/$port\r/" "$top/quintaro.travo"

# Standard error goes to a file that is watched for the times of the restart: a pipe would be
# held open by the programs that Wine starts alongside.
(cd "$top" && exec "${emu[@]}" cmd /c travo-forever.cmd > "$host/forever.out" \
    2> "$host/forever.err" < /dev/null) &
forever_pid=$!
pids+=("$forever_pid")
# One read of the file per look: the lines of run 2 can come between two reads.
count() { grep -c "$1" <<< "$seen" || true; }
ended_at="" failed_at=""
for _ in $(seq 400); do
    now="$(date +%s.%N)"
    seen="$(cat "$host/forever.err" 2> /dev/null || true)"
    [ -z "$ended_at" ] && [ "$(count 'travo-forever: travo ended')" -ge 1 ] && ended_at="$now"
    [ -z "$failed_at" ] && [ "$(count 'Error al conectar')" -ge 1 ] && failed_at="$now"
    [ "$(count '^travo-check: ')" -ge 2 ] && break
    sleep 0.1
done
kill "$forever_pid" 2> /dev/null || true
err="$(cat "$host/forever.err")"

tr -d '\r' < "$host/forever.out" | grep ' V3.0$' > /dev/null || fail "no banner: $(cat "$host/forever.out")"
# The window shows the check's findings first, once.
tr -d '\r' < "$host/forever.out" | sed -n 1p | grep -x 'travo-check: quintaro.travo, 36 lines' > /dev/null ||
    fail "travo-forever.cmd did not check the file first: $(head -n 3 "$host/forever.out")"
[ "$(grep -c '^travo-check: ' "$host/forever.out")" -eq 1 ] ||
    fail "the file was checked more than once: $(cat "$host/forever.out")"
# Run 1 loses its host, run 2 finds none: the lines come in this order, each run followed by the
# doctor's line on the file by its full path; the second finds nothing listening.
tr -d '\r' < "$host/forever.err" | grep -v '^(HostConnection)' | sed -n 1,6p |
    sed 's/^\(travo-check: "[^"]*quintaro.travo": \).*/\1.../' > "$scratch/lines"
printf '%s\n' '*Error al recibir los paquetes de Live For Speed' \
    'travo-forever: travo ended with status -1, starting it again in 5 seconds' \
    "travo-check: \"$(win "$top/quintaro.travo")\": ..." \
    '*Error al conectar a Live For Speed' \
    'travo-forever: travo ended with status -1, starting it again in 5 seconds' \
    "travo-check: \"$(win "$top/quintaro.travo")\": ..." > "$scratch/want"
diff "$scratch/want" "$scratch/lines" > /dev/null || fail "unexpected standard error: $err"
tr -d '\r' < "$host/forever.err" | grep '^travo-check: ' | sed -n 2p |
    grep -qF "127.0.0.1:$port refused the connection" || fail "no cause after the second run: $err"
# The pause: from the first exit to the second run's failure.
[ -n "$ended_at" ] && [ -n "$failed_at" ] || fail "no restart seen: $err"
gap="$(awk -v a="$ended_at" -v b="$failed_at" 'BEGIN { print b - a }')"
awk -v g="$gap" 'BEGIN { exit !(g >= 4.5 && g < 15) }' ||
    fail "travo was started again $gap s after it ended"
echo "windows: ok"
