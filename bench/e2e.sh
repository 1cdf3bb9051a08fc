#!/usr/bin/env bash
# tovik against its references, measured side by side in one run: the RC4
# kernel against `openssl speed` (one stream, and two interleaved), a 1 GiB
# file against `openssl enc` (on a memory file system, then on the disk of
# TMPDIR), eight files of 64 MiB and a mixed tree of 1 to 64 MiB files with
# all workers and with one against `openssl enc` run on them one by one, a
# tree of 10,000 small files against ccrypt, trees of 10^4 to 3x10^5 (10^6
# where memory allows) one-byte files for the pace and the memory a run holds
# per file, peak memory, and the fixed costs of one file. Each figure is the median of ROUNDS runs (default 5), tovik and
# its reference taking turns, so the machine's noise falls on both alike.
# Every output is checked: containers against an independent RC4
# (bench/rc4_reference.cpp) with the key derived here by md5sum, round trips
# against the original bytes.
#
#   bench/e2e.sh                  builds the bench preset (build/bench) first
#   BUILD=dir bench/e2e.sh        uses an existing build with TOVIK_BENCH=ON
#   NICE=-10 bench/e2e.sh         runs every measured program (tovik and the
#                                 references alike) at that nice level, for a
#                                 machine shared with busy neighbours (root)
#   TOVIK=path bench/e2e.sh       measures that tovik binary (an older build,
#                                 say) with this build's tools
#
# Needs about 7 GiB free under ${TMPDIR:-/tmp}, and as much in /dev/shm (the
# memory file system, FAST=dir to choose another; without room there the
# memory figures are taken under TMPDIR). Installs ccrypt (and openssl,
# libssl-dev) with apt-get when missing (as root; otherwise prints the command).
set -euo pipefail
cd "$(dirname "$0")/.."
ROUNDS=${ROUNDS:-5}
KEY=k
RUN=()
[ -n "${NICE:-}" ] && RUN=(nice -n "$NICE")

# The references: ccrypt, openssl, and OpenSSL's headers for the in-process
# kernel comparison (bench/rc4_vs_openssl.cpp, built when they are there).
missing=()
command -v ccrypt >/dev/null || missing+=(ccrypt)
command -v openssl >/dev/null || missing+=(openssl)
[ -e /usr/include/openssl/evp.h ] || missing+=(libssl-dev)
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" -eq 0 ]; then
        echo "installing with apt-get: ${missing[*]}"
        export DEBIAN_FRONTEND=noninteractive
        apt-get install -y -qq "${missing[@]}" >/dev/null ||
            { apt-get update -qq && apt-get install -y -qq "${missing[@]}" >/dev/null; }
    else
        echo "missing: ${missing[*]}; run  sudo apt-get install -y ${missing[*]}"; exit 1
    fi
fi

source bench/common.sh
use_build
REFERENCE=$BUILD/rc4_reference
MICRO=$BUILD/tovik_bench
for tool in "$TOVIK" "$DRIVE" "$REFERENCE" "$MICRO"; do
    [ -x "$tool" ] || { echo "missing $tool: build with -DTOVIK_BENCH=ON"; exit 1; }
done
# OpenSSL 3 keeps RC4 in its legacy provider.
LEGACY=()
openssl list -providers -provider legacy >/dev/null 2>&1 && LEGACY=(-provider legacy -provider default)

DISK_WORK=$(mktemp -d "${TMPDIR:-/tmp}/tovik-e2e-XXXXXX")
FAST=${FAST:-/dev/shm}
if [ -d "$FAST" ] && [ "$(df -k --output=avail "$FAST" | tail -1)" -gt $((7 * 1024 * 1024)) ]; then
    WORK=$(mktemp -d "$FAST/tovik-e2e-XXXXXX")
else
    WORK=$DISK_WORK
fi
trap 'rm -rf "$WORK" "$DISK_WORK"' EXIT

# The key material of passphrase $KEY, derived independently of tovik's code:
# D1 = md5(key), D2 = md5(D1), D3 = md5(D2 D1) as lower-case hex text; the
# header is "tvk4:" D2 and the RC4 key the 32 bytes written as D1 D3.
md5() { printf %s "$1" | md5sum | cut -c1-32; }
D1=$(md5 "$KEY"); D2=$(md5 "$D1"); D3=$(md5 "$D2$D1")
HEADER="tvk4:$D2"
KEY_HEX="$D1$D3"
OPENSSL_KEY=${KEY_HEX:0:32}  # openssl enc -rc4 takes 16 bytes; the cost per byte is the same

now() { date +%s.%N; }
maximum() { sort -g | tail -1; }
verdict() { awk -v r="$1" -v t="$2" -v op="$3" 'BEGIN {ok = (op == ">=") ? r >= t : r <= t; print ok ? "met" : "NOT met"}'; }

# Runs tovik in dir with arguments; appends wall seconds to $2 and peak RSS
# (KiB) to $3.
run_tovik() {
    local dir=$1 wall_file=$2 rss_file=$3 line
    shift 3
    line=$("${RUN[@]}" "$DRIVE" -C "$dir" -k "$KEY" "$TOVIK" "$@")
    [ "$(echo "$line" | field status)" = 0 ] || { echo "tovik failed: $line"; exit 1; }
    echo "$line" | field wall_s >>"$wall_file"
    echo "$line" | field maxrss_kib >>"$rss_file"
}
timed() {  # timed file command...: appends the wall seconds of the command to file
    local file=$1 start
    shift
    start=$(now)
    "${RUN[@]}" "$@"
    awk -v a="$start" -v b="$(now)" 'BEGIN {printf "%.6f\n", b-a}' >>"$file"
}
# The container must be the header and the independent RC4 of the plain bytes.
check_container() {
    local plain=$1 container=$2
    [ "$(head -c 37 "$container")" = "$HEADER" ] || { echo "wrong header in $container"; exit 1; }
    "$REFERENCE" "$KEY_HEX" "$plain" "$WORK/reference.out"
    cmp -s -i 37:0 "$container" "$WORK/reference.out" ||
        { echo "$container differs from the reference RC4 of $plain"; exit 1; }
    [ "$(stat -c %s "$container")" -eq $(($(stat -c %s "$plain") + 37)) ] ||
        { echo "$container has the wrong length"; exit 1; }
    rm -f "$WORK/reference.out"
}

echo "tovik benchmarks: $ROUNDS alternating rounds, medians; $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)${NICE:+, nice $NICE}"
CPU=$(cpu_model)
echo "CPU: $CPU"
echo "tovik: $TOVIK"

# --- 1. RC4 kernel, bytes per second of CPU time over one block size ---------
# (a) openssl speed and tovik_bench as separate processes, taking turns.
# (b) bench/rc4_vs_openssl.cpp: the same OpenSSL code in one process with
# ours, in alternating 20 ms slices. This machine's clock moves with the
# host's load from one second to the next, which (a) feels and (b) does not.
SIZES=(16384 131072 1048576)
openssl_speed() {
    "${RUN[@]}" openssl speed "${LEGACY[@]}" -evp rc4 -bytes "$1" -seconds 2 2>/dev/null |
        awk '/^RC4/ {v=$2; sub(/k$/, "", v); print v * 1000}' >>"$WORK/k_openssl_$1"
}
tovik_speed() {
    "${RUN[@]}" "$MICRO" --benchmark_filter="^BM_rc4_apply/$1\$" --benchmark_min_time=2 \
        --benchmark_format=csv 2>/dev/null | awk -F, '/BM_rc4_apply/ {print $6}' >>"$WORK/k_tovik_$1"
}
for round in $(seq "$ROUNDS"); do
    for size in "${SIZES[@]}"; do
        if [ $((round % 2)) = 1 ]; then tovik_speed "$size"; openssl_speed "$size"
        else openssl_speed "$size"; tovik_speed "$size"; fi
    done
done
SLICES=$BUILD/rc4_vs_openssl
[ -x "$SLICES" ] && "${RUN[@]}" "$SLICES" 51 >"$WORK/k_slices"

# --- 2 and 3. A 1 GiB file and a 1 MiB file, in memory and on the disk --------
# big_file_rounds DIR TAG: the rounds of section 2 with their files in DIR;
# the figures go to files named with TAG.
OSSL_ENC=(openssl enc "${LEGACY[@]}" -rc4 -nosalt -K "$OPENSSL_KEY")
# Each run starts with nothing dirty in the page cache (sync), so that no
# run is slowed to the disk's pace by the write-back of an earlier one; tovik
# goes first in odd rounds, openssl in even ones. Each run's output replaces a
# file of its size deleted just before it (from round 2 on): on a virtual
# machine whose host backs guest memory lazily, writing 1 GiB into memory the
# guest has not used lately took 2.8-3.7 s of system time, into pages just
# freed 0.6-0.9 s, either direction alike. When the deletions came at the
# start of each pair, tovik's decryption was the one run of the round left to
# take such memory, and it alone seemed slow.
# The kernel's own rate, in wall time as the runs are, measured right beside
# them: what the whole program is held against.
kernel_now() {
    "${RUN[@]}" "$MICRO" --benchmark_filter='^BM_rc4_apply/131072$' --benchmark_min_time=1 \
        --benchmark_format=csv 2>/dev/null | awk -F, '/BM_rc4_apply/ {print 131072 / $3 * 1e9}' \
        >>"$WORK/g_${TAG}_kernel"
}
tovik_big() {
    rm -f "$B/dec/big.tvk"
    sync
    run_tovik "$B/enc" "$WORK/g_${TAG}_tovik_enc" "$WORK/rss_big" big
    kernel_now
    rm -f "$B/dec/big"
    mv "$B/enc/big.tvk" "$B/dec/big.tvk"
    sync
    run_tovik "$B/dec" "$WORK/g_${TAG}_tovik_dec" "$WORK/rss_big" big.tvk
    kernel_now
}
openssl_big() {
    rm -f "$B/openssl.enc"
    sync
    timed "$WORK/g_${TAG}_openssl_enc" "${OSSL_ENC[@]}" -in "$B/enc/big" -out "$B/openssl.enc"
    rm -f "$B/openssl.dec"
    sync
    timed "$WORK/g_${TAG}_openssl_dec" "${OSSL_ENC[@]}" -d -in "$B/openssl.enc" -out "$B/openssl.dec"
}
# The same file copied with no cipher at all (dd, 128 KiB blocks): what the
# page cache alone allows. On a virtual machine whose host backs guest memory
# lazily, writing into freshly allocated page-cache pages costs from 0.2 s to
# well over 1 s per GiB, from one run to the next.
copy_big() {
    rm -f "$B/copy.out"
    sync
    timed "$WORK/g_${TAG}_copy" dd if="$B/enc/big" of="$B/copy.out" bs=128k status=none
}
big_file_rounds() {
    B=$1 TAG=$2
    mkdir -p "$B/enc" "$B/dec"
    head -c 1G /dev/urandom >"$B/enc/big"
    cat "$B/enc/big" >/dev/null
    for round in $(seq "$ROUNDS"); do
        if [ $((round % 2)) = 1 ]; then tovik_big; openssl_big; else openssl_big; tovik_big; fi
        copy_big
        if [ "$round" = 1 ]; then
            check_container "$B/enc/big" "$B/dec/big.tvk"
            cmp -s "$B/dec/big" "$B/enc/big" || { echo "1 GiB round trip differs"; exit 1; }
            cmp -s "$B/openssl.dec" "$B/enc/big" || { echo "openssl round trip differs"; exit 1; }
        fi
        run_tovik "$WORK/small" "$WORK/unused" "$WORK/rss_small" one
        [ "$round" = 1 ] && check_container "$WORK/small/one" "$WORK/small/one.tvk"
        mv "$WORK/small/one" "$WORK/one.plain"
        run_tovik "$WORK/small" "$WORK/unused" "$WORK/rss_small" one.tvk
        cmp -s "$WORK/small/one" "$WORK/one.plain" || { echo "1 MiB round trip differs"; exit 1; }
        rm -f "$WORK/small/one.tvk" "$WORK/one.plain"
    done
    rm -rf "$B/enc" "$B/dec" "$B/openssl.enc" "$B/openssl.dec" "$B/copy.out"
}
mkdir "$WORK/small"
head -c 1M /dev/urandom >"$WORK/small/one"
big_file_rounds "$WORK" mem
# The same on the disk of TMPDIR (unless that is where the memory figures
# were taken): every tovik run ends by making its output durable, which
# openssl enc and dd do not.
if [ "$DISK_WORK" != "$WORK" ]; then big_file_rounds "$DISK_WORK" disk; fi

# --- 4. 10,000 files of 4 KiB in 100 directories ------------------------------
small_tree "$WORK/tree"
FILES=$(find "$WORK/tree" -type f | wc -l)
same_tree() { diff -r -q "$WORK/tree" "$1" >/dev/null || { echo "$1 differs from the tree"; exit 1; }; }
# Every timed run gets a fresh copy made just before and a sync; tovik and
# ccrypt take turns at going first.
fresh() { rm -rf "$1"; cp -a "$WORK/tree" "$1"; sync; }
tovik_tree() {
    fresh "$WORK/t_plain"
    run_tovik "$WORK/t_plain" "$WORK/t_tovik_enc" "$WORK/rss_tree" '*'
    [ "$round" = 1 ] && check_container "$WORK/tree/d07/f42" "$WORK/t_plain/d07/f42.tvk"
    find "$WORK/t_plain" -type f ! -name '*.tvk' -delete
    sync
    run_tovik "$WORK/t_plain" "$WORK/t_tovik_dec" "$WORK/rss_tree" '*'
    find "$WORK/t_plain" -name '*.tvk' -delete
    same_tree "$WORK/t_plain"
}
ccrypt_tree() {
    fresh "$WORK/t_ccrypt"
    timed "$WORK/t_ccrypt_enc" ccrypt -e -r -K "$KEY" "$WORK/t_ccrypt"
    sync
    timed "$WORK/t_ccrypt_dec" ccrypt -d -r -K "$KEY" "$WORK/t_ccrypt"
    same_tree "$WORK/t_ccrypt"
}
delete_tree() {
    fresh "$WORK/t_delete"
    run_tovik "$WORK/t_delete" "$WORK/t_delete_enc" "$WORK/rss_tree" '*' -d
    [ -z "$(find "$WORK/t_delete" -type f ! -name '*.tvk')" ] || { echo "-d left inputs"; exit 1; }
    sync
    run_tovik "$WORK/t_delete" "$WORK/t_delete_dec" "$WORK/rss_tree" '*' -d
    same_tree "$WORK/t_delete"
}
for round in $(seq "$ROUNDS"); do
    if [ $((round % 2)) = 1 ]; then tovik_tree; ccrypt_tree; else ccrypt_tree; tovik_tree; fi
    delete_tree
done
rm -rf "$WORK/tree" "$WORK/t_plain" "$WORK/t_ccrypt" "$WORK/t_delete"

# --- 6. Eight files of 64 MiB: both cores -------------------------------------
# tovik with its workers (one per core), the same with TOVIK_WORKERS=1, and
# openssl enc run on the eight files one after the other.
mkdir "$WORK/eight"
for i in 1 2 3 4 5 6 7 8; do head -c 64M /dev/urandom >"$WORK/eight/f$i"; done
eight_tovik() {  # eight_tovik TAG [environment...]
    local tag=$1
    shift
    find "$WORK/eight" -name '*.tvk' -delete
    sync
    local line
    line=$(env "$@" "${RUN[@]}" "$DRIVE" -C "$WORK" -k "$KEY" "$TOVIK" eight)
    [ "$(echo "$line" | field status)" = 0 ] || { echo "tovik failed: $line"; exit 1; }
    echo "$line" | field wall_s >>"$WORK/e_$tag"
    echo "$line" | field maxrss_kib >>"$WORK/rss_eight"
}
eight_openssl() {
    rm -f "$WORK"/eight.ossl*
    sync
    local start
    start=$(now)
    for i in 1 2 3 4 5 6 7 8; do
        "${RUN[@]}" "${OSSL_ENC[@]}" -in "$WORK/eight/f$i" -out "$WORK/eight.ossl$i"
    done
    awk -v a="$start" -v b="$(now)" 'BEGIN {printf "%.6f\n", b-a}' >>"$WORK/e_openssl"
}
for round in $(seq "$ROUNDS"); do
    if [ $((round % 2)) = 1 ]; then
        eight_tovik all; eight_tovik one TOVIK_WORKERS=1; eight_openssl
    else
        eight_openssl; eight_tovik one TOVIK_WORKERS=1; eight_tovik all
    fi
    [ "$round" = 1 ] && check_container "$WORK/eight/f5" "$WORK/eight/f5.tvk"
done
rm -rf "$WORK/eight" "$WORK"/eight.ossl*

# --- 7. A mixed tree of 1 to 64 MiB files -------------------------------------
# Files of many sizes, so that the two bodies a worker copies at once seldom
# end together: tovik with its workers against openssl enc on each in turn.
MIXED_MIB=(1 3 5 8 13 21 34 55 64 2 4 16 40 7 27 64)
mkdir -p "$WORK/mixed/a" "$WORK/mixed/b"
for i in "${!MIXED_MIB[@]}"; do
    head -c "${MIXED_MIB[$i]}M" /dev/urandom >"$WORK/mixed/$([ $((i % 2)) = 0 ] && echo a || echo b)/m$i"
done
MIXED_BYTES=$(du -sb "$WORK/mixed" | cut -f1)
mixed_tovik() {
    find "$WORK/mixed" -name '*.tvk' -delete
    sync
    local line
    line=$("${RUN[@]}" "$DRIVE" -C "$WORK" -k "$KEY" "$TOVIK" mixed)
    [ "$(echo "$line" | field status)" = 0 ] || { echo "tovik failed: $line"; exit 1; }
    echo "$line" | field wall_s >>"$WORK/x_tovik"
}
mixed_openssl() {
    rm -rf "$WORK/mixed.ossl"
    mkdir "$WORK/mixed.ossl"
    sync
    local start f
    start=$(now)
    for f in "$WORK"/mixed/*/m*; do
        [[ $f == *.tvk ]] && continue
        "${RUN[@]}" "${OSSL_ENC[@]}" -in "$f" -out "$WORK/mixed.ossl/$(basename "$f")"
    done
    awk -v a="$start" -v b="$(now)" 'BEGIN {printf "%.6f\n", b-a}' >>"$WORK/x_openssl"
}
for round in $(seq "$ROUNDS"); do
    if [ $((round % 2)) = 1 ]; then mixed_tovik; mixed_openssl; else mixed_openssl; mixed_tovik; fi
    [ "$round" = 1 ] && check_container "$WORK/mixed/b/m13" "$WORK/mixed/b/m13.tvk"
done
rm -rf "$WORK/mixed" "$WORK/mixed.ossl"

# --- 8. Trees of one-byte files: the pace and the memory per file -------------
# 1,000 files a directory; the sizes take turns, in reverse every other
# round. 10^6 files only where the memory file system and the machine have
# room for the tree and its outputs (a one-byte file takes a 4 KiB page).
SMALL_COUNTS=(10000 100000 300000)
if [ "$(df -k --output=avail "$WORK" | tail -1)" -gt $((14 * 1024 * 1024)) ] &&
    [ "$(awk '/MemAvailable/ {print $2}' /proc/meminfo)" -gt $((18 * 1024 * 1024)) ]; then
    SMALL_COUNTS+=(1000000)
fi
make_small_tree() {  # make_small_tree DIR COUNT
    local dir=$1 count=$2 d
    for ((d = 0; d * 1000 < count; d++)); do
        mkdir -p "$dir/d$d"
        (cd "$dir/d$d" && printf 'x' | tee $(seq -f 'f%g' 0 $(( (count - d * 1000 > 1000 ? 1000 : count - d * 1000) - 1 ))) >/dev/null)
    done
}
for n in "${SMALL_COUNTS[@]}"; do make_small_tree "$WORK/ones$n/t" "$n"; done
small_tree_run() {
    local n=$1 line
    find "$WORK/ones$n" -name '*.tvk' -delete
    sync
    line=$("${RUN[@]}" "$DRIVE" -C "$WORK/ones$n" -k "$KEY" "$TOVIK" t)
    [ "$(echo "$line" | field status)" = 0 ] || { echo "tovik failed: $line"; exit 1; }
    echo "$line" | field wall_s >>"$WORK/o_wall_$n"
    echo "$line" | field maxrss_kib >>"$WORK/o_rss_$n"
}
SMALL_ROUNDS=$ROUNDS
for round in $(seq "$SMALL_ROUNDS"); do
    counts=("${SMALL_COUNTS[@]}")
    [ $((round % 2)) = 0 ] && counts=($(printf '%s\n' "${SMALL_COUNTS[@]}" | tac))
    for n in "${counts[@]}"; do
        # The million once: a run takes over a minute.
        [ "$n" = 1000000 ] && [ "$round" != 1 ] && continue
        small_tree_run "$n"
    done
done
[ "$(cat "$WORK/ones10000/t/d3/f7.tvk" | head -c 37)" = "$HEADER" ] || { echo "wrong container in the tree of one-byte files"; exit 1; }
rm -rf "$WORK"/ones*

# --- 5. Fixed costs of one file -----------------------------------------------
"${RUN[@]}" "$MICRO" --benchmark_filter='BM_(derive_key_material_per_file|rc4_setup|open_for_update_and_close|create_temp_and_remove|rename_into_place|run_over_1_byte)$' \
    --benchmark_repetitions="$((ROUNDS > 1 ? ROUNDS : 2))" --benchmark_report_aggregates_only=true \
    --benchmark_format=csv 2>/dev/null | awk -F, '/_median"/ {print $1, $3}' >"$WORK/fixed"

# --- Report -------------------------------------------------------------------
echo
echo "1. RC4 kernel, MB/s of CPU time: rc4_apply vs OpenSSL's RC4 (CPU $CPU)"
echo "   (a) openssl speed -evp rc4 and tovik_bench, separate runs of 2 s taking turns, medians:"
worst=
for size in "${SIZES[@]}"; do
    t=$(median <"$WORK/k_tovik_$size"); o=$(median <"$WORK/k_openssl_$size")
    r=$(ratio "$t" "$o")
    printf "   %8d-byte blocks: tovik %6.0f  openssl %6.0f  ratio %s\n" "$size" "$(ratio "$t" 1e6)" "$(ratio "$o" 1e6)" "$r"
    worst=$(printf "%s\n%s\n" "$r" "${worst:-$r}" | sort -g | head -1)
done
echo "   (a) lowest ratio $worst (target >= 1.1): $(verdict "$worst" 1.1 ">=")"
if [ -s "$WORK/k_slices" ]; then
    echo "   (b) in one process, 51 alternating 20 ms slices of CPU time, medians:"
    worst=
    while read -r size tovik openssl ratio; do
        t=${tovik#tovik=}; o=${openssl#openssl=}; r=${ratio#ratio=}
        printf "   %8d-byte blocks: tovik %6.0f  openssl %6.0f  ratio %.2f\n" "$size" \
            "$(ratio "$t" 1e6)" "$(ratio "$o" 1e6)" "$r"
        worst=$(printf "%s\n%s\n" "$r" "${worst:-$r}" | sort -g | head -1)
    done < <(grep '^[0-9]' "$WORK/k_slices")
    printf "   (b) lowest ratio %.2f (target >= 1.1): %s\n" "$worst" "$(verdict "$worst" 1.1 ">=")"
    # The kernel times its loop shapes once per process and runs the fastest.
    chosen=$(sed -n 's/^chosen //p' "$WORK/k_slices")
    echo "   loop shape chosen: $chosen (CPU $(sed -n 's/^cpu //p' "$WORK/k_slices"))"
    echo "   each loop shape over 128 KiB blocks, same slices, against OpenSSL:"
    while read -r _ name _ rate ratio; do
        printf "   %8s %6.0f MB/s  ratio %.2f%s\n" "$name" "$(ratio "${rate#rate=}" 1e6)" "${ratio#ratio=}" \
            "$([ "$name" = "$chosen" ] && echo "   <- chosen")"
    done < <(grep '^shape ' "$WORK/k_slices")
    best=$(grep '^shape ' "$WORK/k_slices" | sed 's/.*ratio=//' | sort -g | tail -1)
    mine=$(grep "^shape $chosen " "$WORK/k_slices" | sed 's/.*ratio=//')
    want=$(awk -v b="$best" 'BEGIN {print (b >= 1.1) ? 1.1 : 1.0}')
    printf "   chosen shape %.2f x OpenSSL (target >= %s: %s); %.2f of the best shape's %.2f (target >= 0.95: %s)\n" \
        "$mine" "$want" "$(verdict "$mine" "$want" ">=")" "$(ratio "$mine" "$best")" "$best" \
        "$(verdict "$(ratio "$mine" "$best")" 0.95 ">=")"
    echo "   two streams interleaved on one core (rc4_apply_pair), both streams' bytes, against OpenSSL's one:"
    chosen_pair=$(sed -n 's/^chosen_pair //p' "$WORK/k_slices")
    while read -r _ name _ rate ratio; do
        printf "   %8s %6.0f MB/s  ratio %.2f%s\n" "$name" "$(ratio "${rate#rate=}" 1e6)" "${ratio#ratio=}" \
            "$([ "$name" = "$chosen_pair" ] && echo "   <- chosen")"
    done < <(grep '^pair ' "$WORK/k_slices")
    mine=$(grep "^pair $chosen_pair " "$WORK/k_slices" | sed 's/.*ratio=//')
    printf "   chosen pair shape %.2f x OpenSSL's one stream (target >= 1.7: %s)\n" "$mine" \
        "$(verdict "$mine" 1.7 ">=")"
else
    echo "   (b) skipped: build without OpenSSL's headers (libssl-dev)"
fi

echo
big_report() {  # big_report TAG TITLE
    echo "$2"
    local way t o r k kernel
    kernel=$(median <"$WORK/g_$1_kernel")
    for way in enc dec; do
        t=$(awk -v s="$(median <"$WORK/g_$1_tovik_$way")" 'BEGIN {print 1073741824 / s}')
        o=$(awk -v s="$(median <"$WORK/g_$1_openssl_$way")" 'BEGIN {print 1073741824 / s}')
        r=$(ratio "$t" "$o"); k=$(ratio "$t" "$kernel")
        printf "   %s: tovik %4.0f  openssl enc %4.0f  ratio %s (target >= 1.05: %s)\n" \
            "$([ $way = enc ] && echo encrypt || echo decrypt)" \
            "$(ratio "$t" 1e6)" "$(ratio "$o" 1e6)" "$r" "$(verdict "$r" 1.05 ">=")"
        printf "            tovik / own kernel (%.0f MB/s wall, 128 KiB blocks, run beside) = %s (target >= 0.9: %s)\n" \
            "$(ratio "$kernel" 1e6)" "$k" "$(verdict "$k" 0.9 ">=")"
    done
    local copy
    copy=$(awk -v s="$(median <"$WORK/g_$1_copy")" 'BEGIN {print 1073741824 / s}')
    printf "   the same file copied by dd with no cipher: %.0f MB/s\n" "$(ratio "$copy" 1e6)"
}
big_report mem "2. (CPU $CPU) 1 GiB file on $(df --output=fstype "$WORK" | tail -1) ($(dirname "$WORK")), MB/s of wall time"
if [ -s "$WORK/g_disk_kernel" ]; then
    big_report disk "   and on $(df --output=fstype "$DISK_WORK" | tail -1) ($(dirname "$DISK_WORK")), where tovik's figure includes making the output durable:"
fi
echo "   outputs checked against the independent RC4 and round trips: identical"

echo
echo "3. Peak RSS of tovik, KiB (largest of all runs; CPU $CPU)"
for f in small big; do
    m=$(maximum <"$WORK/rss_$f")
    printf "   %s file: %s KiB (target <= 4096: %s)\n" "$([ $f = small ] && echo "1 MiB" || echo "1 GiB")" "$m" "$(verdict "$m" 4096 "<=")"
done
m=$(maximum <"$WORK/rss_eight")
printf "   eight files of 64 MiB, with the workers: %s KiB (target <= 8192: %s)\n" "$m" "$(verdict "$m" 8192 "<=")"
printf "   (tree of %d files: %s KiB; the target list grows with the number of files)\n" "$FILES" "$(maximum <"$WORK/rss_tree")"

echo
echo "4. Tree of $FILES files of 4 KiB in 100 directories, files/s of wall time (CPU $CPU)"
rate() { awk -v n="$FILES" -v s="$(median <"$1")" 'BEGIN {printf "%.0f", n / s}'; }
for way in enc dec; do
    t=$(rate "$WORK/t_tovik_$way"); c=$(rate "$WORK/t_ccrypt_$way"); d=$(rate "$WORK/t_delete_$way")
    name=$([ $way = enc ] && echo encrypt || echo decrypt)
    printf "   %s: tovik %6d  ccrypt -%s -r %6d  ratio %s (target >= 2.4: %s)\n" "$name" "$t" \
        "$([ $way = enc ] && echo e || echo d)" "$c" "$(ratio "$t" "$c")" "$(verdict "$(ratio "$t" "$c")" 2.4 ">=")"
    printf "            with -d %6d  = %s x without (target >= 0.5: %s)\n" "$d" "$(ratio "$d" "$t")" \
        "$(verdict "$(ratio "$d" "$t")" 0.5 ">=")"
done

echo
echo "6. Eight files of 64 MiB, seconds of wall time (CPU $CPU)"
a=$(median <"$WORK/e_all"); o1=$(median <"$WORK/e_one"); os=$(median <"$WORK/e_openssl")
printf "   tovik, %d workers: %.2f s   with TOVIK_WORKERS=1: %.2f s (%.2f x faster with all)\n" \
    "$(nproc | awk '{print ($1 > 4) ? 4 : $1}')" "$a" "$o1" "$(ratio "$o1" "$a")"
printf "   openssl enc on the eight one by one: %.2f s; tovik %s x faster (target >= 3.5: %s)\n" \
    "$os" "$(ratio "$os" "$a")" "$(verdict "$(ratio "$os" "$a")" 3.5 ">=")"

echo
echo "7. Mixed tree of ${#MIXED_MIB[@]} files of 1 to 64 MiB ($((MIXED_BYTES >> 20)) MiB), seconds of wall time (CPU $CPU)"
a=$(median <"$WORK/x_tovik"); os=$(median <"$WORK/x_openssl")
printf "   tovik %.2f s, openssl enc one by one %.2f s: tovik %s x faster (target >= 3: %s)\n" \
    "$a" "$os" "$(ratio "$os" "$a")" "$(verdict "$(ratio "$os" "$a")" 3 ">=")"

echo
echo "8. Trees of one-byte files, 1,000 a directory: files/s of wall time and peak RSS (CPU $CPU)"
base_rate=$(awk -v n=10000 -v s="$(median <"$WORK/o_wall_10000")" 'BEGIN {print n / s}')
base_rss=$(maximum <"$WORK/o_rss_10000")
for n in "${SMALL_COUNTS[@]}"; do
    r=$(awk -v n="$n" -v s="$(median <"$WORK/o_wall_$n")" 'BEGIN {print n / s}')
    m=$(maximum <"$WORK/o_rss_$n")
    per=$(awk -v a="$m" -v b="$base_rss" -v n="$n" 'BEGIN {if (n > 10000) printf "%.0f", (a - b) * 1024 / (n - 10000); else print "-"}')
    printf "   %8d files: %6.0f files/s (%.2f x the rate at 10^4)  peak RSS %6.1f MiB  (%s bytes a file beyond 10^4's)\n" \
        "$n" "$r" "$(ratio "$r" "$base_rate")" "$(awk -v k="$m" 'BEGIN {print k / 1024}')" "$per"
done
r=$(awk -v s="$(median <"$WORK/o_wall_300000")" 'BEGIN {print 300000 / s}')
m=$(maximum <"$WORK/o_rss_300000")
printf "   300,000 files: peak RSS %.1f MiB (target <= 45: %s); pace %.2f x 10,000's (target >= 0.8: %s)\n" \
    "$(awk -v k="$m" 'BEGIN {print k / 1024}')" "$(verdict "$m" $((45 * 1024)) "<=")" \
    "$(ratio "$r" "$base_rate")" "$(verdict "$(ratio "$r" "$base_rate")" 0.8 ">=")"

echo
echo "5. Fixed costs of one file, microseconds (Google Benchmark medians, wall;"
echo "   rename_into_place is two renames)"
awk '{gsub(/"/, "", $1); sub(/_median$/, "", $1); sub(/^BM_/, "", $1); printf "   %-32s %8.2f\n", $1, $2 / 1000}' "$WORK/fixed"
