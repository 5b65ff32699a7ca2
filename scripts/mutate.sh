#!/usr/bin/env bash
# Mutation testing: plants the faults listed in scripts/mutants.txt one at a time in a scratch copy
# of the tree, rebuilds, runs the fast tests of the mutant's area and says whether they noticed.
#   mutate.sh                  every mutant
#   mutate.sh --area AREA      one area: core, check, sim or windows
#   mutate.sh --mutant NAME    one mutant (may be given more than once)
#   mutate.sh --list           the mutants, without running anything
# The scratch copy (TRAVO_MUTATE_DIR, default /var/tmp/travo-mutate-<user>) is kept between runs,
# so that a second run only rebuilds what changed. Exit 0 when every area scores at least 90 %
# and no mutant went stale, 1 otherwise, 2 on a usage error.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
list="$root/scripts/mutants.txt"
scratch="${TRAVO_MUTATE_DIR:-/var/tmp/travo-mutate-$(id -un)}"
per_program_limit=300

usage() {
    echo "usage: mutate.sh [--list] [--area core|check|sim|windows] [--mutant NAME]..." >&2
    exit 2
}
only_area="" only_mutants=() list_only=0
while [ $# -gt 0 ]; do
    case "$1" in
    --list) list_only=1 ;;
    --area) [ $# -ge 2 ] || usage; only_area="$2"; shift ;;
    --area=*) only_area="${1#--area=}" ;;
    --mutant) [ $# -ge 2 ] || usage; only_mutants+=("$2"); shift ;;
    --mutant=*) only_mutants+=("${1#--mutant=}") ;;
    *) usage ;;
    esac
    shift
done
case "$only_area" in "" | core | check | sim | windows) ;; *) usage ;; esac

# The fast tests of each area: PROGRAM or PROGRAM:GTEST_FILTER. The slow ones (a real start light,
# a host that vanishes for a minute, a silent host) are left out.
field="field_tests:-SilentHost.*:DeadLink.*"
declare -A tests=(
    [core]="app_tests scripted_tests fresh_run_tests insim_tests process_tests:-ProcessStartLight.*"
    [check]="toolkit_tests picture_tests:-Picture.DrawsTheRecordsTravoSendsByteForByte check_tests tool_outputs_tests $field"
    [sim]="scripted_tests sim_tests sim_process_tests app_tests $field"
    [windows]="app_tests scripted_tests toolkit_tests check_tests insim_tests:-HostConnectionTest.ResetGivesMinusOne sim_tests fresh_run_tests"
)
areas=(core check sim windows)

# The list: blocks of "== NAME", then area:, file:, find:, replace:, why: and an optional tests:
# (programs instead of the area's). find and replace are literal text on one line.
names=()
declare -A m_area m_file m_find m_replace m_why m_tests
name=""
while IFS= read -r line || [ -n "$line" ]; do
    case "$line" in
    "== "*)
        name="${line#== }"
        [ -z "${m_area[$name]+x}" ] || { echo "mutate: $name is listed twice" >&2; exit 2; }
        names+=("$name") m_area[$name]="" m_file[$name]="" m_find[$name]="" m_replace[$name]=""
        m_why[$name]="" m_tests[$name]="" ;;
    "area: "*) m_area[$name]="${line#area: }" ;;
    "file: "*) m_file[$name]="${line#file: }" ;;
    "find: "*) m_find[$name]="${line#find: }" ;;
    "replace: "*) m_replace[$name]="${line#replace: }" ;;
    "replace:") m_replace[$name]="" ;;
    "why: "*) m_why[$name]="${line#why: }" ;;
    "tests: "*) m_tests[$name]="${line#tests: }" ;;
    "" | "#"*) ;;
    *) echo "mutate: $list: cannot read: $line" >&2; exit 2 ;;
    esac
done < "$list"
for name in "${names[@]}"; do
    case "${m_area[$name]}" in core | check | sim | windows) ;; *)
        echo "mutate: $name has no area (core, check, sim or windows)" >&2; exit 2 ;;
    esac
    [ -n "${m_file[$name]}" ] && [ -n "${m_find[$name]}" ] && [ -n "${m_why[$name]}" ] ||
        { echo "mutate: $name needs file:, find: and why:" >&2; exit 2; }
done

chosen=()
for name in "${names[@]}"; do
    [ -z "$only_area" ] || [ "${m_area[$name]}" = "$only_area" ] || continue
    if [ ${#only_mutants[@]} -gt 0 ]; then
        keep=0
        for want in "${only_mutants[@]}"; do [ "$want" = "$name" ] && keep=1; done
        [ "$keep" -eq 1 ] || continue
    fi
    chosen+=("$name")
done
for want in "${only_mutants[@]}"; do
    [ -n "${m_area[$want]+x}" ] || { echo "mutate: no mutant named $want" >&2; exit 2; }
done

if [ "$list_only" -eq 1 ]; then
    for name in "${chosen[@]}"; do
        printf '%-34s %-8s %-34s %s\n' "$name" "${m_area[$name]}" "${m_file[$name]}" "${m_why[$name]}"
    done
    exit 0
fi
[ ${#chosen[@]} -gt 0 ] || { echo "mutate: no mutant chosen" >&2; exit 2; }

# One copy of the tree as it stands, committed or not; a file left mutated by an interrupted run
# differs from its source and is copied again. A copied file gets a new time, so it is rebuilt.
sync_tree() {
    mkdir -p "$scratch"
    (cd "$root" && git ls-files -z -co --exclude-standard) | while IFS= read -r -d '' f; do
        [ -f "$root/$f" ] || continue
        if ! cmp -s "$root/$f" "$scratch/$f"; then
            mkdir -p "$scratch/$(dirname "$f")"
            cp "$root/$f" "$scratch/$f"
        fi
    done
}

# Replaces the one occurrence of FIND in FILE; 3 when there is none, 4 when there are several.
apply() {
    perl -e '
        my ($file, $find, $replace) = @ARGV;
        open(my $in, "<:raw", $file) or exit 5;
        local $/; my $text = <$in>; close $in;
        my $at = index($text, $find);
        exit 3 if $at < 0;
        exit 4 if index($text, $find, $at + 1) >= 0;
        substr($text, $at, length $find) = $replace;
        open(my $out, ">:raw", $file) or exit 5;
        print $out $text; close $out or exit 5;' "$@"
}

log="$scratch.log"
: > "$log"
# Runs the programs of a mutant; 0 when all pass. RUNNER is empty for Linux, the Wine runner else.
run_tests() {
    local bin="$1" suffix="$2" runner="$3" entry program filter
    shift 3
    for entry in "$@"; do
        program="${entry%%:*}" filter="*"
        [ "$program" = "$entry" ] || filter="${entry#*:}"
        if [ "$program" = packaging.windows ]; then
            ctest --test-dir "$scratch/build/windows" -R '^packaging\.windows$' \
                --timeout "$per_program_limit" >> "$log" 2>&1 < /dev/null || return 1
            continue
        fi
        echo "--- $program" >> "$log"
        # shellcheck disable=SC2086
        timeout -k 5 "$per_program_limit" $runner "$bin/$program$suffix" --gtest_fail_fast \
            --gtest_brief=1 "--gtest_filter=$filter" >> "$log" 2>&1 < /dev/null || return 1
    done
}

declare -A result
# ccache makes putting a file back cost nothing: its object is in the cache from the first build.
export CCACHE_DIR="$scratch/build/ccache"
launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
# Builds the unmutated tree once a preset, with the packages its build needs.
declare -A ready=()
prepare() {
    local preset="$1"
    shift
    [ -z "${ready[$preset]+x}" ] || return 0
    bash "$root/scripts/setup.sh" ccache "$@"
    echo "mutate: building in $scratch/build/$preset"
    (cd "$scratch" && cmake --preset "$preset" "${launcher[@]}" > /dev/null &&
        cmake --build --preset "$preset" > /dev/null) ||
        { echo "mutate: the unmutated tree does not build ($preset) in $scratch" >&2; exit 1; }
    ready[$preset]=1
}

# What to build for these tests: only their programs (and what they run), or everything for a
# packaging test.
targets() {
    local entry
    for entry in "$@"; do
        [ "$entry" != packaging.windows ] || return 0
    done
    for entry in "$@"; do printf -- '--target %s ' "${entry%%:*}"; done
}

# Each mutant: apply, rebuild, test, restore. The unmutated tree must pass first, or every
# mutant would look caught.
run_area() {
    local area="$1" build bin suffix runner name status programs
    shift
    if [ "$area" = windows ]; then
        prepare windows googletest g++-mingw-w64-x86-64-posix wine wine64
        build="$scratch/build/windows" bin="$build/bin" suffix=".exe"
        runner="$scratch/cmake/wine-run.sh $build/wine"
    else
        prepare dev
        build="$scratch/build/dev" bin="$build/bin" suffix="" runner=""
    fi
    # Every test these mutants run, the tests: of a mutant too, passes on the unmutated tree.
    local -A seen=()
    local baseline=() entry
    # shellcheck disable=SC2046,SC2086
    for entry in ${tests[$area]} $(for name in "$@"; do echo "${m_tests[$name]}"; done); do
        [ -n "${seen[$entry]+x}" ] || { seen[$entry]=1; baseline+=("$entry"); }
    done
    # shellcheck disable=SC2046
    if ! cmake --build "$build" $(targets "${baseline[@]}") >> "$log" 2>&1 ||
        ! run_tests "$bin" "$suffix" "$runner" "${baseline[@]}"; then
        echo "mutate: the $area tests fail without a mutant (see $log)" >&2
        exit 1
    fi
    for name in "$@"; do
        local file="$scratch/${m_file[$name]}"
        status=0
        apply "$file" "${m_find[$name]}" "${m_replace[$name]}" || status=$?
        case "$status" in
        0) ;;
        3) result[$name]="stale: text not found"; continue ;;
        4) result[$name]="stale: text found more than once"; continue ;;
        *) result[$name]="stale: no file"; continue ;;
        esac
        echo "=== $name" >> "$log"
        programs="${m_tests[$name]:-${tests[$area]}}"
        # shellcheck disable=SC2046,SC2086
        if ! cmake --build "$build" $(targets $programs) >> "$log" 2>&1; then
            result[$name]="did not build"
        elif run_tests "$bin" "$suffix" "$runner" $programs; then
            result[$name]="SURVIVED"
        else
            result[$name]="killed"
        fi
        cp "$root/${m_file[$name]}" "$file"
        printf '%-34s %-8s %s\n' "$name" "$area" "${result[$name]}"
    done
}

started=$SECONDS
sync_tree
echo "mutate: ${#chosen[@]} mutants; the build and test output goes to $log"
declare -A took
for area in "${areas[@]}"; do
    area_started=$SECONDS
    these=()
    for name in "${chosen[@]}"; do [ "${m_area[$name]}" = "$area" ] && these+=("$name"); done
    [ ${#these[@]} -gt 0 ] || continue
    if [ "$area" = windows ]; then
        # The Windows job's lock: its caches and Wine servers are shared.
        exec 8> /tmp/travo-windows.lock
        flock 8
        run_area windows "${these[@]}"
        # Wine's server of the scratch prefix ends with the lock's holder.
        WINEPREFIX="$scratch/build/windows/wine" wineserver -k > /dev/null 2>&1 || true
        exec 8>&-
    else
        run_area "$area" "${these[@]}"
    fi
    took[$area]=$((SECONDS - area_started))
done

echo
printf '%-34s %-8s %s\n' mutant area result
for name in "${chosen[@]}"; do printf '%-34s %-8s %s\n' "$name" "${m_area[$name]}" "${result[$name]:-}"; done
echo
status=0
for area in "${areas[@]}"; do
    killed=0 counted=0 unbuilt=0 stale=0
    for name in "${chosen[@]}"; do
        [ "${m_area[$name]}" = "$area" ] || continue
        case "${result[$name]:-}" in
        killed) killed=$((killed + 1)) counted=$((counted + 1)) ;;
        SURVIVED) counted=$((counted + 1)) ;;
        "did not build") unbuilt=$((unbuilt + 1)) ;;
        stale*) stale=$((stale + 1)) ;;
        esac
    done
    [ $((counted + unbuilt + stale)) -gt 0 ] || continue
    score=0
    [ "$counted" -eq 0 ] || score=$((100 * killed / counted))
    printf '%-8s %d of %d killed (%d %%)' "$area" "$killed" "$counted" "$score"
    [ "$unbuilt" -eq 0 ] || printf ', %d did not build' "$unbuilt"
    [ "$stale" -eq 0 ] || printf ', %d stale' "$stale"
    printf ', %d s\n' "${took[$area]:-0}"
    [ "$score" -ge 90 ] && [ "$stale" -eq 0 ] || status=1
done
echo "mutate: $((SECONDS - started)) s"
exit "$status"
