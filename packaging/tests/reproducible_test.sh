#!/usr/bin/env bash
# The same source built twice, in two folders and at two times, with nothing set by hand, gives
# the same .deb and .tar.gz byte for byte, stamped with the time of the last commit.
# Usage: reproducible_test.sh SOURCE_DIR VERSION
source "$(dirname "$0")/lib.sh"
src="$1" version="$2"
for t in cmake cpack ninja; do command -v "$t" > /dev/null || skip "no $t"; done
unset SOURCE_DATE_EPOCH
started=$SECONDS

# As the operators' preset builds them: the programs alone.
build() {
    local dir="$1"
    (cd "$src" && cmake --preset package -B "$dir") > "$dir.log" 2>&1 ||
        fail "configure in $dir: $(tail -20 "$dir.log")"
    cmake --build "$dir" -j 2 >> "$dir.log" 2>&1 || fail "build in $dir: $(tail -20 "$dir.log")"
    (cd "$dir" && cpack -G 'DEB;TGZ' -B "$dir/out" >> "$dir.log" 2>&1) ||
        fail "cpack in $dir: $(tail -20 "$dir.log")"
}
build "$scratch/first"
sleep 1
build "$scratch/the-second-folder"

for f in "travo_$version-1_amd64.deb" "travo-$version-Linux.tar.gz"; do
    [ -f "$scratch/first/out/$f" ] || fail "no $f in: $(ls "$scratch/first/out")"
    cmp "$scratch/first/out/$f" "$scratch/the-second-folder/out/$f" ||
        fail "$f differs between the two builds"
done

# The stamp is the last commit's time (the change log's date where there is no git).
if git -C "$src" rev-parse > /dev/null 2>&1; then
    want="$(git -C "$src" log -1 --format=%ct)"
    got="$(tar -tvzf "$scratch/first/out/travo-$version-Linux.tar.gz" --full-time --utc |
        awk 'NR == 1 { print $4 " " $5 }')"
    [ "$(date -u -d "$got" +%s)" = "$want" ] || fail "the .tar.gz is stamped $got, not $want"
fi
echo "reproducible: the .deb and the .tar.gz are the same from two builds ($((SECONDS - started)) s)"
