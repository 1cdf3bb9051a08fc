# What the benchmark scripts share; sourced from the repository's root.
#
# use_build: BUILD (build/bench, built here, unless given), TOVIK (that
# build's tovik unless given) and DRIVE (the driver that types the dialogue).
use_build() {
    if [ -z "${BUILD:-}" ]; then
        BUILD=build/bench
        cmake --preset bench >/dev/null && cmake --build --preset bench >/dev/null
    fi
    BUILD=$(realpath "$BUILD")
    TOVIK=$(realpath "${TOVIK:-$BUILD/tovik}")
    DRIVE=$BUILD/drive_tovik
}
# The processor every figure is printed with: the figures change with it.
cpu_model() {
    local info=/proc/cpuinfo
    echo "$(sed -n 's/^model name[[:space:]]*: //p' $info | head -1) (family $(sed -n 's/^cpu family[[:space:]]*: //p' $info | head -1), model $(sed -n 's/^model[[:space:]]*: //p' $info | head -1))"
}
median() { sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }
field() { sed -n "s/.*$1=\([^ ]*\).*/\1/p"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }
# small_tree DIR: 10,000 files of 4 KiB of random bytes in 100 directories.
small_tree() {
    mkdir "$1"
    for d in $(seq -w 0 99); do
        mkdir "$1/d$d"
        head -c $((100 * 4096)) /dev/urandom | split -b 4096 -d -a 2 - "$1/d$d/f"
    done
}
