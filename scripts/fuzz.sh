#!/usr/bin/env bash
# Builds the libFuzzer targets (tests/fuzz/*_fuzz.cpp) and runs each in turn.
#
#   scripts/fuzz.sh SECONDS [target...]     each target for SECONDS
#   scripts/fuzz.sh --runs N [target...]    each target for N executions
#
# Targets are named without "_fuzz" (container, pattern, terminal_keys,
# path_list, key_tables); all of them by default. The build goes to
# $TOVIK_FUZZ_BUILD (default build/fuzz). Seeds are written into
# <build>/fuzz-corpus/<target>/, which also keeps what the fuzzer finds;
# crashing inputs go to <build>/fuzz-findings/<target>/ and the fuzzer's
# output to <build>/fuzz-logs/<target>.log. Exit status 1 when any target
# fails (a crash, a broken property, a leak or a timeout).
set -euo pipefail
cd "$(dirname "$0")/.."

usage() { echo "usage: $0 SECONDS [target...] | $0 --runs N [target...]" >&2; exit 2; }
[ $# -ge 1 ] || usage
if [ "$1" = "--runs" ]; then
    [ $# -ge 2 ] && [[ "$2" =~ ^[0-9]+$ ]] || usage
    limit=(-runs="$2")
    shift 2
else
    [[ "$1" =~ ^[0-9]+$ ]] || usage
    limit=(-max_total_time="$1")
    shift
fi
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(container pattern terminal_keys path_list key_tables)

build=${TOVIK_FUZZ_BUILD:-build/fuzz}
# The library itself must carry the coverage instrumentation, not only the
# fuzz targets, or the fuzzer is blind to the code it is meant to explore.
cmake --preset fuzz -B "$build" -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$build" -- -j 2 >/dev/null

# Bytes from a hex string.
unhex() { printf "$(sed 's/../\\x&/g' <<<"$1")"; }

seed() {  # seed TARGET NAME < bytes
    cat >"$build/fuzz-corpus/$1/seed-$2"
}

make_seeds() {
    local target=$1 n=0 line
    mkdir -p "$build/fuzz-corpus/$target"
    case $target in
    container)
        # Every container and plain text of the vectors, and every header
        # alone (one of them matches the fuzz target's passphrase).
        while read -r -a line; do
            [ ${#line[@]} -eq 3 ] || continue
            unhex "${line[1]}" | seed container "plain-$n"
            unhex "${line[2]}" | seed container "container-$n"
            n=$((n + 1))
        done < <(grep -v '^#' tests/vectors/containers.txt)
        while read -r -a line; do
            [ ${#line[@]} -eq 3 ] || continue
            printf '%s' "${line[1]}" | seed container "header-$n"
            n=$((n + 1))
        done < <(grep -v '^#' tests/vectors/key-schedule.txt)
        ;;
    pattern)  # pattern NUL name
        for pair in '*.*|readme' '*.exe|a.exe' 'docs/*.t*|x.txt' 'a?c.*|abc' 'docs//|docs' '*a*a*b|aaaaab'; do
            printf '%s\0%s' "${pair%%|*}" "${pair#*|}" | seed pattern "$n"
            n=$((n + 1))
        done
        ;;
    terminal_keys)  # arrows, editing keys, function keys, modifiers, rxvt, Linux console
        for keys in '\e[A' '\e[1;5C' '\e[3~' '\e[15;2~' '\eOP' '\eO5A' '\e[[A' '\eOM' '\e[Z' '\e[2$' \
                    '\x7f' 'ab\ec' '\e'; do
            printf "$keys" | seed terminal_keys "$n"
            n=$((n + 1))
        done
        ;;
    path_list)
        printf '%s' '/usr/local/bin:/usr/bin::/bin:' | seed path_list 0
        printf '%s' ';;C:\bin;;;"D:\a;b";"";x\' | seed path_list 1
        ;;
    key_tables)  # scan code, then control-key state, both little-endian
        unhex 480000010000 | seed key_tables 0  # enhanced Up
        unhex 570008000000 | seed key_tables 1  # Ctrl+F11
        ;;
    esac
}

max_len() {
    case $1 in
    container) echo 4096 ;;
    pattern) echo 1024 ;;  # the reference matcher costs pattern x name
    terminal_keys) echo 1024 ;;  # the terminal reader's queue
    key_tables) echo 8 ;;
    *) echo 4096 ;;
    esac
}

# Zero large shadow ranges with memset rather than mmap: the copies allocate
# large blocks for every input, and remapping their shadow each time (with
# its TLB flushes) otherwise takes most of the container target's time.
export ASAN_OPTIONS="clear_shadow_mmap_threshold=4194304${ASAN_OPTIONS:+:$ASAN_OPTIONS}"

# The container target makes and removes files for every input: on a memory
# file system that costs a fraction of what a journalling disk does.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi

failed=0
printf '%-14s %12s %8s %10s %9s  %s\n' target executions seconds exec/s findings result
for target in "${targets[@]}"; do
    binary="$build/${target}_fuzz"
    [ -x "$binary" ] || { echo "no fuzz target $binary" >&2; exit 2; }
    make_seeds "$target"
    findings="$build/fuzz-findings/$target"
    log="$build/fuzz-logs/$target.log"
    mkdir -p "$findings" "$(dirname "$log")"
    before=$(find "$findings" -type f | wc -l)
    started=$(date +%s)
    status=0
    "$binary" "${limit[@]}" -max_len="$(max_len "$target")" -timeout=60 -print_final_stats=1 \
        -artifact_prefix="$findings/" "$build/fuzz-corpus/$target" >"$log" 2>&1 || status=$?
    seconds=$(( $(date +%s) - started ))
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    runs=${runs:-0}
    found=$(( $(find "$findings" -type f | wc -l) - before ))
    result=ok
    if [ "$status" -ne 0 ] || [ "$found" -ne 0 ]; then
        result="FAILED (status $status, see $log)"
        failed=1
    fi
    printf '%-14s %12s %8s %10s %9s  %s\n' "$target" "$runs" "$seconds" \
        "$(( runs / (seconds > 0 ? seconds : 1) ))" "$found" "$result"
    if [ "$result" != ok ]; then
        grep -E 'violated|ERROR|SUMMARY|Test unit written' "$log" | head -n 5 | sed 's/^/    /'
    fi
done
exit "$failed"
