#!/usr/bin/env bash
# kill -9 at random moments of "tovik ... -d" runs, then a check of every
# target: its input is intact, or its complete output is in place (byte for
# byte the container a clean run makes, or the original plain file), or both.
# Nothing else may be left but temporaries ("<output name>.tovik-partial-XXXXXX"),
# and a later run must not take those as targets.
#
# Four kinds of run, each killed TRIALS times: a large file encrypted and
# decrypted, a tree of files encrypted and decrypted.
#
# Usage: scripts/kill-test.sh [TRIALS] [BUILD_DIR]
#   TRIALS     kills per kind (default 20)
#   BUILD_DIR  where tovik is or is built (default build/default)
#   LARGE_MB   size of the large file (default 200)   SEED  random seed
set -euo pipefail
cd "$(dirname "$0")/.."

TRIALS=${1:-20}
BUILD=${2:-build/default}
LARGE_MB=${LARGE_MB:-200}
SEED=${SEED:-$(date +%s)}
KEY="kill test key"
RANDOM=$SEED

if [ ! -x "$BUILD/tovik" ]; then
    cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTOVIK_TESTS=OFF >/dev/null
    ninja -C "$BUILD" tovik >/dev/null
fi
TOVIK=$(realpath "$BUILD/tovik")
# The pty driver of the benchmarks types the key and answers like a person.
DRIVE="$BUILD/kill-test-drive"
if [ ! -x "$DRIVE" ] || [ bench/drive_tovik.cpp -nt "$DRIVE" ]; then
    c++ -std=c++20 -O1 -Itests bench/drive_tovik.cpp tests/support/pty_posix.cpp -lutil -o "$DRIVE"
fi
DRIVE=$(realpath "$DRIVE")

WORK=$(mktemp -d /tmp/tovik-kill-XXXXXX)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

# A full run, to the end.
drive() { "$DRIVE" -C "$1" -k "$KEY" "$TOVIK" "${@:2}" >/dev/null; }

# The one child of process $1 (the run the driver started), if any.
child_of() {
    local stat line
    for stat in /proc/[0-9]*/stat; do
        read -r line 2>/dev/null <"$stat" || continue
        line=${line##*) }  # state, then the parent's pid
        line=${line#* }
        if [ "${line%% *}" = "$1" ]; then
            line=${stat#/proc/}
            echo "${line%/stat}"
            return
        fi
    done
}

is_temporary() { [[ "$1" =~ \.tovik-partial-[A-Za-z0-9]{6}$ ]]; }

# Pristine data: plain/ holds the originals, sealed/ their containers from a
# clean run (checked to decrypt back), each as a large file and as a tree.
mkdir -p plain/large plain/tree
head -c "${LARGE_MB}M" /dev/urandom >plain/large/big
for d in a a/b a/b/c "d e" "d e/f%g"; do
    mkdir -p "plain/tree/$d"
    for i in 1 2 3 4 5 6; do
        head -c $(((RANDOM % 2048 + 1) * 1024)) /dev/urandom >"plain/tree/$d/file $i.dat"
    done
done
cp -r plain sealed
for kind in large tree; do
    drive sealed "$kind" -d
    cp -r sealed/$kind back-$kind
    drive back-$kind '*' -d
    diff -r plain/$kind back-$kind >/dev/null || { echo "clean round trip failed ($kind)"; exit 1; }
done
rm -rf back-*

# Targets, relative to the kind's directory, without the suffix.
targets() { (cd "plain/$1" && find . -type f | sed 's|^\./||' | sort); }

total_trials=0
total_violations=0
total_temps=0
violation() {
    echo "  VIOLATION (trial $trial, $1): $2"
    violations=$((violations + 1))
}

# One kind: $1 large|tree, $2 encrypt|decrypt.
run_kind() {
    local kind=$1 direction=$2 source_dir=plain
    [ "$direction" = decrypt ] && source_dir=sealed
    mapfile -t names < <(targets "$kind")
    # How long the run itself takes, to spread the kills over it.
    rm -rf w && cp -r "$source_dir/$kind" w
    "$DRIVE" -C w -k "$KEY" "$TOVIK" '*' -d >/dev/null &
    local driver=$! run="" start end
    while [ -z "$run" ] && kill -0 "$driver" 2>/dev/null; do run=$(child_of "$driver"); done
    start=$(date +%s%N)
    while [ "$(child_of "$driver")" = "$run" ]; do sleep 0.005; done
    end=$(date +%s%N)
    wait "$driver"
    local span_ms=$(((end - start) / 1000000 + 1))
    violations=0
    local temps=0 input_only=0 both=0 output_only=0
    for ((trial = 1; trial <= TRIALS; trial++)); do
        rm -rf w && cp -r "$source_dir/$kind" w
        local delay_ms=$(((RANDOM * 32768 + RANDOM) % span_ms))
        "$DRIVE" -C w -k "$KEY" "$TOVIK" '*' -d >/dev/null 2>&1 &
        driver=$! run=""
        while [ -z "$run" ] && kill -0 "$driver" 2>/dev/null; do run=$(child_of "$driver"); done
        sleep "$(printf '%d.%03d' $((delay_ms / 1000)) $((delay_ms % 1000)))"
        # Still the driver's child (not a reused pid): then it is the run.
        [ -n "$run" ] && [ "$(child_of "$driver")" = "$run" ] && kill -9 "$run" 2>/dev/null || true
        wait "$driver" || true

        local name input output
        declare -A known=()
        for name in "${names[@]}"; do
            if [ "$direction" = encrypt ]; then
                input="$name" output="$name.tvk"
            else
                input="$name.tvk" output="$name"
            fi
            known[$input]=1 known[$output]=1
            local kept=0 made=0
            if [ -e "w/$input" ]; then
                cmp -s "w/$input" "$source_dir/$kind/$input" && kept=1 ||
                    violation "$kind $direction" "input $input changed"
            fi
            if [ -e "w/$output" ]; then
                local expected="sealed/$kind/$output"
                [ "$direction" = decrypt ] && expected="plain/$kind/$output"
                cmp -s "w/$output" "$expected" && made=1 ||
                    violation "$kind $direction" "incomplete output $output"
            fi
            case $kept$made in
                10) input_only=$((input_only + 1)) ;;
                11) both=$((both + 1)) ;;
                01) output_only=$((output_only + 1)) ;;
                *) violation "$kind $direction" "$name lost" ;;
            esac
        done
        local file leftovers=()
        while IFS= read -r -d '' file; do
            file=${file#w/}
            if is_temporary "$file"; then
                leftovers+=("$file")
            elif [ -z "${known[$file]:-}" ]; then
                violation "$kind $direction" "unexpected file $file"
            fi
        done < <(find w -type f -print0)
        unset known
        temps=$((temps + ${#leftovers[@]}))
        # A later run over the tree leaves the temporaries alone.
        if [ ${#leftovers[@]} -gt 0 ]; then
            local before
            before=$(cd w && cksum "${leftovers[@]}")
            drive w '*' 2>/dev/null || true
            [ "$(cd w && cksum "${leftovers[@]}")" = "$before" ] ||
                violation "$kind $direction" "a later run changed a temporary"
            for file in "${leftovers[@]}"; do
                [ ! -e "w/$file.tvk" ] || violation "$kind $direction" "a later run encrypted $file"
            done
        fi
    done
    printf '%-5s %-7s trials=%d violations=%d  targets found as: input=%d both=%d output=%d  temporaries left=%d\n' \
        "$kind" "$direction" "$TRIALS" "$violations" "$input_only" "$both" "$output_only" "$temps"
    total_trials=$((total_trials + TRIALS))
    total_violations=$((total_violations + violations))
    total_temps=$((total_temps + temps))
}

echo "kill -9 test: $TRIALS trials per kind, a file of ${LARGE_MB} MiB, a tree of $(targets tree | wc -l) files, seed $SEED"
run_kind large encrypt
run_kind large decrypt
run_kind tree encrypt
run_kind tree decrypt
echo "kill test: trials=$total_trials violations=$total_violations temporaries_left=$total_temps"
[ "$total_violations" = 0 ]
