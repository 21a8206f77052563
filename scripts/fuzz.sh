#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, with ASan and UBSan), writes their seed corpora from the
# terminal simulator and a saved property file, and runs every target one after another.
#
# Usage: scripts/fuzz.sh [--ci] [--runs N] [--max-time S] [--build DIR] [TARGET...]
#   --ci        each target for a short fixed number of executions (a CI gate, a minute or two)
#   (default)   each target for 10,000,000 executions
#   --runs N    each target for N executions
#   --max-time S  stop each target after S seconds even if its executions are not done (the
#               table shows how many were)
#   --build DIR the build directory (default build-fuzz)
#   TARGET...   only these targets (default: every fuzz_* target)
#
# Prints, per target, the executions done, executions per second, seconds and corpus size.
# Fails when any target finds something: a crash, a sanitizer report, a broken invariant, a
# leak, a time-out or running out of memory.  Findings are kept in BUILD/fuzz-artifacts/TARGET/
# (replay one with BUILD/fuzz/TARGET FILE); the grown corpora in BUILD/fuzz-corpus/TARGET/.
set -euo pipefail
cd "$(dirname "$0")/.."

mode=long
runs=""
max_time=0
build=build-fuzz
targets=()
while (($#)); do
    case "$1" in
        --ci) mode=ci ;;
        --runs) runs="$2"; shift ;;
        --max-time) max_time="$2"; shift ;;
        --build) build="$2"; shift ;;
        -h|--help) sed -n '2,18p' "$0"; exit 0 ;;
        fuzz_*) targets+=("$1") ;;
        *) echo "fuzz.sh: unknown argument $1" >&2; exit 2 ;;
    esac
    shift
done
all=(fuzz_pos_reply fuzz_extended_decoder fuzz_conversions fuzz_property_bag fuzz_test_frame
     fuzz_receive)
((${#targets[@]})) || targets=("${all[@]}")

# Executions per target in --ci mode: the targets that run a control in virtual time are
# slower per input and get fewer.
ci_runs() {
    case "$1" in
        fuzz_property_bag) echo 10000 ;;
        fuzz_receive|fuzz_test_frame) echo 20000 ;;
        *) echo 40000 ;;
    esac
}
# Longest input per target (bytes): bounds the work of one input.
max_len() {
    case "$1" in
        fuzz_receive|fuzz_test_frame) echo 1200 ;;
        fuzz_conversions) echo 512 ;;
        *) echo 4096 ;;
    esac
}

scripts/deps.sh
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DKORVEL_BUILD_FUZZ=ON \
    -DKORVEL_BUILD_TESTS=OFF -DKORVEL_BUILD_BENCH=OFF -DKORVEL_WERROR=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j 2 --target korvel_fuzz_corpus korvelcom "${targets[@]}"

# Seeds: the simulator's replies, and property files saved by the command line.
seeds="$build/fuzz-seeds"
rm -rf "$seeds"
"$build/fuzz/korvel_fuzz_corpus" "$seeds"
cli="$build/tools/korvelcom/korvelcom"
mkdir -p "$seeds/fuzz_property_bag"
"$cli" props save "$seeds/fuzz_property_bag/seed-props-save-default"
"$cli" props save "$seeds/fuzz_property_bag/seed-props-save-set" --set TOwaitChar=800 \
    --set CommSettings=19200,n,8,1 --set POSAmount=00001500 --set POSNumber=07 \
    --set ErrorEnabled=false --set POSAutoTOfctBeep=5000

# A smaller quarantine and shorter allocation stacks than the defaults, as fuzzing set-ups
# usually take: about 40% less time per input here, the checks themselves unchanged.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:quarantine_size_mb=64:malloc_context_size=10}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
failed=()
printf '%-24s %12s %10s %8s %8s  %s\n' target executions exec/s seconds corpus result
for t in "${targets[@]}"; do
    n="$runs"
    [ -n "$n" ] || { [ "$mode" = ci ] && n=$(ci_runs "$t") || n=10000000; }
    corpus="$build/fuzz-corpus/$t"
    artifacts="$build/fuzz-artifacts/$t"
    log="$build/fuzz-logs/$t.log"
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")" "$seeds/$t"
    rm -f "$artifacts"/*
    dict=()
    [ -f "fuzz/$t.dict" ] && dict=(-dict="fuzz/$t.dict")
    start=$(date +%s)
    set +e
    "$build/fuzz/$t" -runs="$n" -max_len="$(max_len "$t")" -timeout=10 -rss_limit_mb=2560 -max_total_time="$max_time" \
        -print_final_stats=1 -artifact_prefix="$artifacts/" "${dict[@]}" "$corpus" "$seeds/$t" \
        >"$log" 2>&1
    rc=$?
    set -e
    seconds=$(($(date +%s) - start))
    done_runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    # libFuzzer rounds a run shorter than a second down to 0 seconds (and 0 exec/s).
    [ "${rate:-0}" != 0 ] || rate=$(( ${done_runs:-0} / (seconds > 0 ? seconds : 1) ))
    size=$(find "$corpus" -type f | wc -l)
    found=$(find "$artifacts" -type f | wc -l)
    result=ok
    if ((rc != 0 || found > 0)); then
        result="FOUND (exit $rc, $found file(s) in $artifacts, log $log)"
        failed+=("$t")
    fi
    printf '%-24s %12s %10s %8s %8s  %s\n' "$t" "${done_runs:-?}" "${rate:-?}" "$seconds" \
        "$size" "$result"
done
if ((${#failed[@]})); then
    echo "fuzz.sh: findings in ${failed[*]}" >&2
    grep -h -m3 -E "ERROR: |invariant broken|runtime error" \
        $(for t in "${failed[@]}"; do echo "$build/fuzz-logs/$t.log"; done) >&2 || true
    exit 1
fi
