#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs each for a number of seconds.
#
#   fuzz/run.sh [SECONDS] [TARGET...]     e.g. fuzz/run.sh 600 receive handlers
#
# SECONDS defaults to $FUZZ_SECONDS or 60; TARGETs are receive, config, handlers, script and
# check (default: all). FUZZ_JOBS targets run at once (default 1). FUZZ_BUILD_DIR is the clang
# build directory (default build/fuzz). New inputs go to $FUZZ_BUILD_DIR/corpus/<what>, the
# checked-in seeds in fuzz/corpus/<what> are only read; a crash leaves its input in
# $FUZZ_BUILD_DIR/artifacts/.
# Exit status 0 only when every run ended without a finding.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-${FUZZ_SECONDS:-60}}
shift || true
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(receive config handlers script check)
jobs=${FUZZ_JOBS:-1}
build=${FUZZ_BUILD_DIR:-build/fuzz}

if [ ! -f "$build/build.ninja" ]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTRAVO_WERROR=ON -DTRAVO_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$build" --target "${targets[@]/#/fuzz_}"

bin=$(cd "$build" && pwd)/bin
mkdir -p "$build/artifacts" "$build/logs"

run_one() {
    local what=$1
    mkdir -p "$build/corpus/$what"
    # Longer inputs add nothing a shorter one cannot show: a stream of two 512-byte buffers, one
    # record of at most 255 bytes, a file of 36 lines of at most 100 characters and then some,
    # a script line past its bound of 4096 bytes.
    local max_len=4096
    case $what in
        receive) max_len=1024 ;;
        handlers) max_len=260 ;;
        script) max_len=8192 ;;
    esac
    "$bin/fuzz_$what" "$build/corpus/$what" "fuzz/corpus/$what" \
        -max_total_time="$seconds" -max_len="$max_len" -timeout=30 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$what-" >"$build/logs/$what.log" 2>&1
}

status=0
pids=()
names=()
for what in "${targets[@]}"; do
    run_one "$what" &
    pids+=($!)
    names+=("$what")
    if [ ${#pids[@]} -ge "$jobs" ]; then
        wait "${pids[0]}" || { echo "fuzz_${names[0]}: FINDING, see $build/logs/${names[0]}.log"; status=1; }
        pids=("${pids[@]:1}")
        names=("${names[@]:1}")
    fi
done
for i in "${!pids[@]}"; do
    wait "${pids[$i]}" || { echo "fuzz_${names[$i]}: FINDING, see $build/logs/${names[$i]}.log"; status=1; }
done

for what in "${targets[@]}"; do
    log="$build/logs/$what.log"
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    echo "fuzz_$what: ${seconds} s, ${runs:-?} executions, ${rate:-?} per second"
done
exit $status
