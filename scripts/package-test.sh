#!/usr/bin/env bash
# Makes both packages and checks them:
#   - the Debian package ("cpack -G DEB" from a release build for /usr): its
#     control fields, its Depends also without dpkg-shlibdeps, its files and
#     lintian; then, in a clean Debian 12 root made by debootstrap,
#     "apt-get install ./tovik_*.deb", "tovik -h" (also with no /proc) and
#     "man tovik" show the manual, and "apt-get remove tovik" leaves none of
#     its files;
#   - the Windows zip ("cpack -G ZIP" from the MinGW build): tovik.exe, the
#     manual and the README, nothing else.
#
#   scripts/package-test.sh        as root (debootstrap and chroot need it)
#
# Builds in build/package-deb and build/package-windows. The clean root is
# unpacked from a tarball kept in /var/cache/tovik (made by debootstrap from
# the Debian mirror apt uses here when it is missing; delete it to refresh).
# Settings: TOVIK_PACKAGE_BUILD (instead of build/package), TOVIK_MIRROR.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
build=${TOVIK_PACKAGE_BUILD:-$source_dir/build/package}
suite=bookworm
root_cache=/var/cache/tovik/$suite-minbase-man-db.tar.gz
start=$(date +%s)
step() { echo "=== package: $* ($(($(date +%s) - start))s)"; }
fail() { echo "package check failed: $*" >&2; exit 1; }

[ "$(id -u)" = 0 ] || fail "run as root: debootstrap and chroot need it"
scripts/install-deps --package

step "Debian package from a release build"
# For /usr, where the package puts it: tovik falls back on that prefix's
# manual when it cannot tell where it runs from.
cmake -S . -B "$build-deb" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=g++ \
    -DCMAKE_INSTALL_PREFIX=/usr -DTOVIK_WERROR=ON -DTOVIK_TESTS=OFF >/dev/null
cmake --build "$build-deb"
rm -f "$build-deb"/tovik_*.deb
(cd "$build-deb" && cpack -G DEB >/dev/null)
debs=("$build-deb"/tovik_*.deb)
deb=${debs[0]}
dpkg-deb -I "$deb"
dpkg-deb -c "$deb"
[ "$(dpkg-deb -f "$deb" Section)" = utils ] || fail "section is not utils"
depends=$(dpkg-deb -f "$deb" Depends)
[ -n "$depends" ] || fail "the package's Depends field is empty (see cmake/debian/cpack.cmake)"
echo "$depends" | grep -q 'libc6 (>=' || fail "no dependency on libc6"
# Made where dpkg-shlibdeps is missing, the package states the same Depends.
rm -rf "$build-deb/no-shlibdeps"
(cd "$build-deb" && cpack -G DEB -D CPACK_TOVIK_DPKG_SHLIBDEPS= -B "$build-deb/no-shlibdeps" >/dev/null)
fixed=$(dpkg-deb -f "$build-deb"/no-shlibdeps/tovik_*.deb Depends)
[ "$fixed" = "$depends" ] ||
    fail "without dpkg-shlibdeps, Depends is '$fixed', not '$depends' (cmake/install.cmake)"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
installed_files=(/usr/bin/tovik /usr/share/doc/tovik/README.md
    /usr/share/doc/tovik/changelog.Debian.gz /usr/share/doc/tovik/copyright
    /usr/share/lintian/overrides/tovik /usr/share/man/man1/tovik.1.gz /usr/share/tovik/tovik.man)
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort >"$build-deb/files"
printf '%s\n' "${installed_files[@]}" | cmp -s - "$build-deb/files" ||
    fail "the package's files:" "$(cat "$build-deb/files")"
lintian --fail-on error,warning "$deb" 2>&1 | { grep -v 'running with root privileges' || true; } ||
    fail "lintian said the above"

step "a clean Debian 12 root"
if [ ! -f "$root_cache" ]; then
    # The mirror this machine's apt uses (deb822 or one-line sources).
    mirror=${TOVIK_MIRROR:-}
    if [ -z "$mirror" ]; then
        mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
            /etc/apt/sources.list.d/*.sources 2>/dev/null |
            grep -v '^ *#' | grep -oE 'https?://[^ ]+/debian/?( |$)' | tr -d ' ' || true)
        mirror=$(echo "$mirror" | head -n 1)
    fi
    mirror=${mirror:-http://deb.debian.org/debian}
    echo "debootstrap $suite from $mirror (kept in $root_cache)"
    made=$(mktemp -d /var/tmp/tovik-root.XXXXXX)
    debootstrap --variant=minbase --include=man-db "$suite" "$made" "$mirror" >"$made.log" 2>&1 ||
        { tail -n 30 "$made.log"; fail "debootstrap"; }
    chmod 0755 "$made"
    mkdir -p "$(dirname "$root_cache")"
    tar -C "$made" -czf "$root_cache.part" .
    mv "$root_cache.part" "$root_cache"
    rm -rf --one-file-system "$made" "$made.log"
fi
root=$(mktemp -d /var/tmp/tovik-root.XXXXXX)
cleanup() {
    ! mountpoint -q "$root/proc" || umount "$root/proc"
    rm -rf --one-file-system "$root"
}
trap cleanup EXIT
tar -C "$root" -xzf "$root_cache"
chmod 0755 "$root"  # as a system's root is: man-db and apt drop to other users
# /proc as on a running system: tovik finds its installed manual through it.
mount -t proc proc "$root/proc"
cp "$deb" "$root/tmp/"
in_root() {
    chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        DEBIAN_FRONTEND=noninteractive "$@" </dev/null
}

# No error or warning from apt, dpkg or a trigger (debconf's note that it
# has no apt-utils is no warning).
clean() {
    ! grep -E '^(E|W):|error|warning' "$1" || fail "apt-get said the above"
}

step "apt-get install ./$(basename "$deb") in the clean root"
# No terminal for dpkg's output: the root has no /dev/pts.
in_root sh -c "cd /tmp && apt-get install -y -o Dpkg::Use-Pty=0 ./$(basename "$deb")" 2>&1 |
    tee "$build-deb/apt.log"
clean "$build-deb/apt.log"
in_root dpkg-query -W -f='${Status}\n' tovik | grep -qx 'install ok installed' ||
    fail "tovik is not installed"

step "tovik -h and man tovik there"
in_root sh -c 'cd /tmp && tovik -h' >"$build-deb/shown"
tail -c "$(wc -c <tovik.man)" "$build-deb/shown" | cmp -s - tovik.man ||
    fail "tovik -h did not print the manual:" "$(head -c 2000 "$build-deb/shown")"
head -n 20 "$build-deb/shown"
# A bare chroot has no /proc: tovik takes the manual from the prefix it was built for.
umount "$root/proc"
! in_root test -e /proc/self/exe || fail "/proc is still there"
in_root sh -c 'cd /tmp && tovik -h' >"$build-deb/shown"
tail -c "$(wc -c <tovik.man)" "$build-deb/shown" | cmp -s - tovik.man ||
    fail "tovik -h did not print the manual with no /proc:" "$(head -c 2000 "$build-deb/shown")"
mount -t proc proc "$root/proc"
in_root sh -c 'MANWIDTH=80 man tovik' >"$build-deb/man" 2>&1
sh tests/manpage_check.sh tovik.man <"$build-deb/man"
head -n 12 "$build-deb/man"

step "apt-get remove tovik there"
in_root apt-get remove -y -o Dpkg::Use-Pty=0 tovik 2>&1 | tee "$build-deb/apt.log"
clean "$build-deb/apt.log"
! in_root dpkg-query -W -f='${Status}\n' tovik 2>/dev/null | grep -q 'ok installed' ||
    fail "tovik is still installed"
for path in "${installed_files[@]}" /usr/share/tovik /usr/share/doc/tovik; do
    [ ! -e "$root$path" ] || fail "$path is left after removal"
done
! in_root sh -c 'command -v tovik' || fail "tovik is still on PATH"

step "Windows zip from the MinGW build"
cmake -S . -B "$build-windows" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTOVIK_WERROR=ON -DTOVIK_TESTS=OFF >/dev/null
cmake --build "$build-windows"
rm -f "$build-windows"/tovik-*.zip
(cd "$build-windows" && cpack -G ZIP >/dev/null)
zips=("$build-windows"/tovik-*.zip)
zip=${zips[0]}
unpacked="$build-windows/unpacked"
rm -rf "$unpacked"
mkdir "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$zip")
(cd "$unpacked" && find . -type f | sort) | tee "$build-windows/files"
top=./$(basename "$zip" .zip)
printf '%s\n' "$top/README.md" "$top/tovik.exe" "$top/tovik.man" | cmp -s - "$build-windows/files" ||
    fail "the zip's files are not tovik.exe, tovik.man and README.md"
cmp "$unpacked/$top/tovik.man" tovik.man && cmp "$unpacked/$top/README.md" README.md
head -c 2 "$unpacked/$top/tovik.exe" | grep -q MZ || fail "tovik.exe is no Windows program"

step "done: $(basename "$deb"), $(basename "$zip")"
