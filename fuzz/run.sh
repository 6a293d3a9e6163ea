#!/usr/bin/env bash
# Runs every fuzz target for the given number of seconds (default 60), one after the other, each on a
# working copy of its seed corpus in the build folder, so new inputs never land in the source tree.
# Usage: fuzz/run.sh [seconds] [build folder] [target ...]
set -euo pipefail
seconds=${1:-60}
build=${2:-build-fuzz}
shift $(( $# < 2 ? $# : 2 ))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_batch fuzz_compare fuzz_dump fuzz_fields fuzz_grid fuzz_load fuzz_tree)
source_dir=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$build/artifacts"
for target in "${targets[@]}"; do
    work="$build/corpus/$target"
    mkdir -p "$work"
    echo "== $target: ${seconds} s"
    # Tree inputs stay small: a few hundred bytes already make deep trees of a hundred dimensions.
    limits=()
    [ "$target" = fuzz_tree ] && limits=(-max_len=512)
    # Standard output and error of the code under test are closed (fatal reports are expected); the
    # fuzzer's own lines and any crash report still appear. Faster inputs are preferred, so a run of
    # a given length covers more of them.
    # An input is reported as slow only after a minute: on a shared machine a stopped or starved
    # process would otherwise leave a "slow unit" that fails the run.
    "$build/$target" -max_total_time="$seconds" "${limits[@]}" -entropic_scale_per_exec_time=1 \
        -report_slow_units=60 -close_fd_mask=3 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$target-" "$work" "$source_dir/corpus/$target" 2>&1 |
        grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|==|SUMMARY|FUZZ CHECK)' || true
    # A crash leaves its input in the artifacts folder: show what failed and stop, so it is not
    # overlooked (remove the artifact once it is understood).
    if compgen -G "$build/artifacts/$target-*" >/dev/null; then
        for artifact in "$build/artifacts/$target-"*; do
            "$build/$target" "$artifact" 2>&1 | grep -E 'FUZZ CHECK|ERROR|runtime error|SUMMARY' || true
        done
        echo "$target: failing input(s) in $build/artifacts" >&2
        exit 1
    fi
done
