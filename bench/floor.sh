#!/usr/bin/env bash
# A run over many small files against its floor, in one run on the same tree:
# 10,000 files of 4 KiB in 100 directories on the memory file system (FAST,
# default /dev/shm), encrypted by tovik and by bench/floor.cpp, the system
# calls alone that a safe in-place encryptor needs per file, on one and on
# two threads; then the same with -d (the floor adds an unlink per file and
# one syncfs). Medians of ROUNDS runs (default 5), taking turns, each on a
# fresh copy; files/s of wall time (tovik's less the time its dialogue takes
# to type), and tovik's ratio to the two-thread floor.
#
#   bench/floor.sh                builds the bench preset (build/bench) first
#   BUILD=dir bench/floor.sh      uses an existing build with TOVIK_BENCH=ON
#   TOVIK=path bench/floor.sh     measures that tovik binary
set -euo pipefail
cd "$(dirname "$0")/.."
ROUNDS=${ROUNDS:-5}
source bench/common.sh
use_build
FLOOR=$BUILD/floor_loop
WORK=$(mktemp -d "${FAST:-/dev/shm}/tovik-floor-XXXXXX")
trap 'rm -rf "$WORK"' EXIT

small_tree "$WORK/tree"
FILES=$(find "$WORK/tree" -type f | wc -l)
fresh() { rm -rf "$WORK/t"; cp -a "$WORK/tree" "$WORK/t"; sync; }
floor_run() {  # floor_run FILE THREADS [-d]
    local file=$1
    shift
    fresh
    "$FLOOR" "$WORK/t" "$@" | field seconds >>"$WORK/r_$file"
}
tovik_run() {  # tovik_run FILE [-d]
    local file=$1 line
    shift
    fresh
    # Its report goes to /dev/null, as to a log: the dialogue is on the terminal.
    line=$("$DRIVE" -C "$WORK" -k k /bin/sh -c "exec \"$TOVIK\" t $* >/dev/null")
    [ "$(echo "$line" | field status)" = 0 ] || { echo "tovik failed: $line"; exit 1; }
    echo "$line" | field work_s >>"$WORK/r_$file"
    [ "$(find "$WORK/t" -name '*.tvk' | wc -l)" = "$FILES" ] || { echo "tovik missed files"; exit 1; }
}
for round in $(seq "$ROUNDS"); do
    floor_run f1 1
    floor_run f2 2
    tovik_run t
    floor_run d2 2 -d
    tovik_run td -d
done
rate() { awk -v n="$FILES" -v s="$(median <"$WORK/r_$1")" 'BEGIN {printf "%.0f", n / s}'; }
echo "tovik against its floor: $FILES files of 4 KiB, $ROUNDS rounds, medians, files/s of wall time"
echo "CPU: $(cpu_model), $(nproc) cores; tovik: $TOVIK"
printf "   floor, one thread %6d   two threads %6d\n" "$(rate f1)" "$(rate f2)"
printf "   tovik             %6d   = %s x the two-thread floor (target >= 0.8)\n" "$(rate t)" \
    "$(ratio "$(rate t)" "$(rate f2)")"
printf "   with -d: floor, two threads %6d   tovik %6d   = %s x (target >= 0.8)\n" "$(rate d2)" \
    "$(rate td)" "$(ratio "$(rate td)" "$(rate d2)")"
