#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build/fuzz (the fuzz preset) and runs each
# for SECONDS (default 60): first over the inputs that once crashed it (fuzz/regressions/),
# then from its seed corpus (fuzz/corpus/, which stays as committed; what the fuzzer learns
# goes to build/fuzz/corpus/). A crash, a hang, a leak or a broken invariant fails the run and
# leaves the input in build/fuzz/crashes/: fix the code, then commit the input to
# fuzz/regressions/<target>/ so that the replay tests and every later run try it again.
set -euo pipefail

# Usage: fuzz/run.sh [SECONDS]
seconds=${1:-60}
cd "$(dirname "$0")/.."
source_dir=$PWD
build=build/fuzz
targets=(transact reg_file line_settings reply_fields operations)

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null

export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
summary=()
failed=0
for target in "${targets[@]}"; do
    fuzzer="$build/${target}_fuzz"
    log="$build/$target.log"
    mkdir -p "$build/corpus/$target" "$build/crashes"

    regressions=("$source_dir/fuzz/regressions/$target"/*)
    if [ -e "${regressions[0]}" ]; then
        if ! "$fuzzer" "${regressions[@]}" >"$log.regressions" 2>&1; then
            echo "fuzz: $target fails on a committed regression input (see $log.regressions)"
            failed=1
            continue
        fi
    fi

    echo "fuzz: $target for ${seconds} s"
    if "$fuzzer" "$build/corpus/$target" "$source_dir/fuzz/corpus/$target" \
        -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        -artifact_prefix="$build/crashes/$target-" >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        summary+=("$target: ${runs:-?} inputs in ${seconds} s, no failure")
    else
        echo "fuzz: $target FAILED, the last lines of $log:"
        tail -n 30 "$log"
        summary+=("$target: FAILED, input kept in $build/crashes/")
        failed=1
    fi
done

printf 'fuzz: %s\n' "${summary[@]}"
exit "$failed"
