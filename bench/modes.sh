#!/usr/bin/env bash
# tovik's modes beside the run over files, against their references in one
# run, on the memory file system (FAST, default /dev/shm): a 1 GiB container
# read out with -c and 1 GiB through tovik - (both ways) into /dev/null,
# against openssl enc -rc4 on the same stream, with peak RSS; and eight
# containers of 64 MiB given a new passphrase with -x, against decrypting
# them. Each figure is the median of ROUNDS runs (default 5), taking turns.
# Every output is checked once: -c and tovik - against the original bytes
# and the container, -x by decrypting under the new passphrase.
#
#   bench/modes.sh                builds the bench preset (build/bench) first
#   BUILD=dir bench/modes.sh      uses an existing build with TOVIK_BENCH=ON
#   TOVIK=path bench/modes.sh     measures that tovik binary
#
# Needs about 3.5 GiB free in FAST.
set -euo pipefail
cd "$(dirname "$0")/.."
ROUNDS=${ROUNDS:-5}
source bench/common.sh
use_build
command -v openssl >/dev/null || { echo "needs openssl (apt-get install openssl)"; exit 1; }
LEGACY=()
openssl list -providers -provider legacy >/dev/null 2>&1 && LEGACY=(-provider legacy -provider default)
OSSL_ENC=(openssl enc "${LEGACY[@]}" -rc4 -nosalt -K 000102030405060708090a0b0c0d0e0f)
WORK=$(mktemp -d "${FAST:-/dev/shm}/tovik-modes-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

# drive FILE ARGS...: tovik's run through sh (for its redirections) on a
# terminal; its wall seconds to FILE, its peak RSS to FILE.rss.
drive() {
    local file=$1 line
    shift
    line=$("$DRIVE" -k k -n n /bin/sh -c "exec $*")
    [ "$(echo "$line" | field status)" = 0 ] || { echo "tovik failed ($*): $line"; exit 1; }
    echo "$line" | field wall_s >>"$file"
    echo "$line" | field maxrss_kib >>"$file.rss"
}
timed() {  # timed FILE command...: the command's wall seconds to FILE
    local file=$1 start
    shift
    start=$(date +%s.%N)
    "$@"
    awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN {printf "%.6f\n", b-a}' >>"$file"
}
rate() { awk -v bytes="$1" -v s="$(median <"$2")" 'BEGIN {printf "%.0f", bytes / s / 1e6}'; }

echo "tovik's modes: $ROUNDS alternating rounds, medians; $(nproc) cores"
echo "CPU: $(cpu_model)"
echo "tovik: $TOVIK"

head -c 1G /dev/urandom >big
"$DRIVE" -k k "$TOVIK" big >/dev/null
drive /dev/null "$TOVIK" big.tvk -c ">" out
cmp -s out big || { echo "-c differs from the plain bytes"; exit 1; }
drive /dev/null "$TOVIK" - "<" big ">" out
cmp -s out big.tvk || { echo "tovik - differs from the container"; exit 1; }
drive /dev/null "$TOVIK" - "<" big.tvk ">" out
cmp -s out big || { echo "tovik - does not give the plain bytes back"; exit 1; }
rm -f out
for round in $(seq "$ROUNDS"); do
    drive c "$TOVIK" big.tvk -c ">" /dev/null
    timed o "${OSSL_ENC[@]}" -in big -out /dev/null
    drive se "$TOVIK" - "<" big ">" /dev/null
    timed os sh -c "exec ${OSSL_ENC[*]} <big >/dev/null"
    drive sd "$TOVIK" - "<" big.tvk ">" /dev/null
done
G=$((1 << 30))
echo
echo "1. 1 GiB into /dev/null, MB/s of wall time (openssl enc -rc4 on the same bytes)"
printf "   tovik big.tvk -c:     %5d   openssl enc -in: %5d   ratio %.2f (target >= 1)\n" \
    "$(rate $G c)" "$(rate $G o)" "$(awk -v a="$(rate $G c)" -v b="$(rate $G o)" 'BEGIN {print a/b}')"
printf "   tovik - < big:        %5d   openssl enc < :  %5d   ratio %.2f (target >= 1)\n" \
    "$(rate $G se)" "$(rate $G os)" "$(awk -v a="$(rate $G se)" -v b="$(rate $G os)" 'BEGIN {print a/b}')"
printf "   tovik - < big.tvk:    %5d   openssl enc < :  %5d   ratio %.2f (target >= 1)\n" \
    "$(rate $G sd)" "$(rate $G os)" "$(awk -v a="$(rate $G sd)" -v b="$(rate $G os)" 'BEGIN {print a/b}')"
printf "   peak RSS: -c %d KiB, tovik - %d KiB (target <= 8192)\n" \
    "$(sort -g c.rss | tail -1)" "$(cat se.rss sd.rss | sort -g | tail -1)"
rm -f big big.tvk

mkdir eight
for i in 1 2 3 4 5 6 7 8; do head -c 64M /dev/urandom >"eight/f$i"; done
cp -a eight plain
"$DRIVE" -k k "$TOVIK" eight -d >/dev/null
fresh() { rm -rf work; cp -a eight work; sync; }
fresh
drive /dev/null "$TOVIK" work -x
"$DRIVE" -k n "$TOVIK" work >/dev/null  # decrypts under the new passphrase
for i in 1 2 3 4 5 6 7 8; do cmp -s "work/f$i" "plain/f$i" || { echo "-x lost f$i"; exit 1; }; done
for round in $(seq "$ROUNDS"); do
    fresh
    drive x "$TOVIK" work -x
    fresh
    drive d "$TOVIK" work
done
echo
echo "2. Eight containers of 64 MiB, seconds of wall time"
x=$(median <x); d=$(median <d)
printf "   tovik -x (new passphrase in place): %.2f s   decrypting them: %.2f s   speed ratio %.2f (target >= 0.9)\n" \
    "$x" "$d" "$(awk -v a="$d" -v b="$x" 'BEGIN {print a/b}')"
