#!/usr/bin/env bash
# Hardening checks, bounded in time:
#   1. the whole test suite under AddressSanitizer + UndefinedBehaviorSanitizer (preset asan),
#      the million-packet flood included;
#   2. every fuzz target for FUZZ_SECONDS seconds (default 30), two at a time;
#   3. travo under valgrind memcheck against the virtual host;
#   4. clang-tidy and cppcheck over the project's sources.
# Installs the Debian packages it needs when they are missing. ASAN_BUILD_DIR (default
# build/asan, the preset's) and DEV_BUILD_DIR (default build/dev) choose the build directories.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

fuzz_seconds=${FUZZ_SECONDS:-30}
asan_dir=${ASAN_BUILD_DIR:-build/asan}
dev_dir=${DEV_BUILD_DIR:-build/dev}
export TRAVO_FLOOD_PACKETS=${TRAVO_FLOOD_PACKETS:-1000000}

bash scripts/setup.sh valgrind clang-tidy cppcheck libclang-rt-14-dev

started=$SECONDS
timings=()
step() {
    local name=$1
    shift
    local t0=$SECONDS
    echo "== ci-hardening: $name"
    "$@"
    timings+=("$(printf '%-34s %4d s' "$name" $((SECONDS - t0)))")
}

sanitized_tests() {
    cmake --preset asan -B "$asan_dir" -DTRAVO_BUILD_BENCH=ON >/dev/null
    cmake --build "$asan_dir"
    # The preset's test environment: stop at the first report of either sanitizer.
    ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        ctest --test-dir "$asan_dir" -j2 --output-on-failure
}

fuzzing() {
    FUZZ_BUILD_DIR="$asan_dir" FUZZ_JOBS=2 fuzz/run.sh "$fuzz_seconds"
}

memcheck() {
    cmake --preset dev -B "$dev_dir" >/dev/null
    cmake --build "$dev_dir" --target travo travo-sim
    scripts/valgrind-check.sh "$dev_dir/bin"
}

# The project's own C++ sources that the sanitized build compiles (platform files of other
# systems are not in it).
project_sources() {
    python3 - "$root" "$asan_dir/compile_commands.json" <<'EOF'
import json, os, subprocess, sys
root, db = sys.argv[1], sys.argv[2]
tracked = set(subprocess.run(["git", "-C", root, "ls-files", "*.cpp"], check=True,
                             capture_output=True, text=True).stdout.split())
compiled = {os.path.relpath(os.path.join(e["directory"], e["file"]), root)
            for e in json.load(open(db))}
print("\n".join(sorted(tracked & compiled)))
EOF
}

tidy() {
    mapfile -t files < <(project_sources)
    run-clang-tidy -p "$asan_dir" -j2 -quiet "${files[@]/#/$root/}" >"$asan_dir/clang-tidy.log" 2>&1 || {
        grep -E "(warning|error):" "$asan_dir/clang-tidy.log" | sort -u
        echo "ci-hardening: clang-tidy findings, see $asan_dir/clang-tidy.log"
        return 1
    }
    echo "clang-tidy: ${#files[@]} files, no findings"
}

static_analysis() {
    mapfile -t files < <(project_sources)
    # resourceLeak in tests: a failed assertion leaves a test early with its sockets open; the
    # test process ends right after.
    cppcheck --std=c++20 --language=c++ -I . --library=googletest --library=posix \
        --enable=warning,performance,portability --inline-suppr -q -j2 --error-exitcode=1 \
        --suppress='resourceLeak:*tests/*' \
        --template='{file}:{line}: {severity}: {message} [{id}]' "${files[@]}"
    echo "cppcheck: ${#files[@]} files, no findings"
}

step "sanitized test suite" sanitized_tests
step "fuzzing (${fuzz_seconds} s per target)" fuzzing
step "valgrind memcheck" memcheck
step "clang-tidy" tidy
step "cppcheck" static_analysis

echo "== ci-hardening: passed in $((SECONDS - started)) s"
printf '   %s\n' "${timings[@]}"
