#!/usr/bin/env bash
# Builds tovik.exe and its tests with MinGW-w64 and runs the tests under wine.
#
#   scripts/windows-test.sh            (build directory: build/windows)
#   TOVIK_WIN_BUILD=/path scripts/windows-test.sh
#
# As root it installs what it needs and runs everything else as the
# unprivileged user "tovikci": wine run by root opens read-only files for
# writing, which would hide the read-only behaviour the tests check.
# Exits non-zero on any failure.
set -euo pipefail

source_dir=$(cd "$(dirname "$0")/.." && pwd)
build_dir=${TOVIK_WIN_BUILD:-$source_dir/build/windows}
ci_user=tovikci
start=$(date +%s)
step_name=""
step_start=$start
step() {
    local now
    now=$(date +%s)
    [ -z "$step_name" ] || echo "=== windows: $step_name took $((now - step_start))s"
    step_name=$1
    step_start=$now
    echo "=== windows: $step_name ($((now - start))s since the start)"
}

step "tools"
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || ! command -v wine >/dev/null ||
    ! [ -x /usr/lib/wine/wine64 ] || ! [ -d /usr/src/googletest ] ||
    ! command -v localedef >/dev/null || ! command -v script >/dev/null; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends g++-mingw-w64-x86-64-posix wine wine64 \
        googletest cmake ninja-build locales bsdutils >/dev/null
fi

if [ "$(id -u)" = 0 ]; then
    id "$ci_user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$ci_user"
    as_user() { runuser -u "$ci_user" -- "$@"; }
    # The tests read files from the source tree: when the user cannot reach
    # it (a clone under /root, say), they work on a copy.
    if ! as_user test -r "$source_dir/CMakeLists.txt" -a -x "$source_dir/tests/vectors"; then
        staged=/tmp/tovik-windows-source
        rm -rf "$staged"
        mkdir -p "$staged"
        (cd "$source_dir" && tar --exclude=./build --exclude=./.git -cf - .) | tar -xf - -C "$staged"
        chown -R "$ci_user:" "$staged"
        source_dir=$staged
        build_dir=${TOVIK_WIN_BUILD:-$staged/build/windows}
        echo "source copied to $staged ($ci_user cannot read it where it is)"
    fi
    mkdir -p "$build_dir"
    chown -R "$ci_user:" "$build_dir"
else
    as_user() { "$@"; }
    mkdir -p "$build_dir"
fi

wine_prefix=$(as_user mktemp -d /tmp/tovik-wine.XXXXXX)
wine_env=(env WINEDEBUG=-all WINEPREFIX="$wine_prefix" WINEARCH=win64
    WINEDLLOVERRIDES="mscoree,mshtml=")
holder=""
cleanup() {
    [ -z "$holder" ] || kill "$holder" 2>/dev/null || true
    as_user "${wine_env[@]}" wineserver -k >/dev/null 2>&1 || true
    rm -rf "$wine_prefix" "${held_open:-}" "${locale_dir:-}"
}
trap cleanup EXIT

step "wine prefix"
# A running server, the prefix, and one finished program up front: otherwise
# the first tests pay seconds each for wine's start.
as_user "${wine_env[@]}" wineserver -p
as_user "${wine_env[@]}" wineboot --init >/dev/null 2>&1
as_user "${wine_env[@]}" wine cmd /c exit

step "configure"
as_user "${wine_env[@]}" cmake -S "$source_dir" -B "$build_dir" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTOVIK_WERROR=ON >/dev/null

step "build"
as_user "${wine_env[@]}" cmake --build "$build_dir"

step "tests under wine"
# Wine gives a program a console only when its standard input is a terminal,
# so ctest runs on a pseudo-terminal from script(1). That terminal's input is
# held open (at its end wine's console waits seconds per program) and never
# written to: the tests write their own key records. The Ctrl+C test runs
# alone afterwards: under wine the event reaches every program on the
# console, so a test running beside it could be ended by it. script(1) runs
# the command with $SHELL, which may be unset or sh: bash is named here.
held_open=$(mktemp -u /tmp/tovik-tty.XXXXXX)
mkfifo -m 0644 "$held_open"
sleep 3600 >"$held_open" &
holder=$!
as_user "${wine_env[@]}" SHELL=/bin/bash script -qec \
    "set -o pipefail; ctest --test-dir '$build_dir' --output-on-failure -j 2 -E ConsoleInterrupt | cat &&
     ctest --test-dir '$build_dir' --output-on-failure -R ConsoleInterrupt | cat" \
    /dev/null <"$held_open" | tr -d '\r'

step "double-byte code page"
# The path split again under code page 932 (Shift-JIS), where a backslash
# byte can be the second half of a character. Wine takes the code page from
# the locale, which needs its definition to name files in it.
locale_dir=$(as_user mktemp -d /tmp/tovik-locale.XXXXXX)
as_user localedef -i ja_JP -f UTF-8 "$locale_dir/ja_JP.UTF-8"
(cd "$build_dir" && as_user "${wine_env[@]}" LOCPATH="$locale_dir" LC_ALL=ja_JP.UTF-8 \
    wine ./tovik_tests.exe --gtest_filter='PathSplit.*:WindowsFiles.*' --gtest_brief=1 </dev/null)

step "done"
