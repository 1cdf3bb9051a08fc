#!/bin/sh
# "cmake --install" of a build into a fresh prefix: exactly the executable,
# the manual, the man page and the README, and "tovik -h" finds the manual
# there from any directory, PATH or not, also through a symbolic link; the
# man page shows the manual (when "man" is present).
#
#   [CMAKE=/path/to/cmake] tests/install_test.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1
source=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix="$work/a prefix"
fail() { echo "$*" >&2; exit 1; }

"${CMAKE:-cmake}" --install "$build" --prefix "$prefix" >/dev/null
(cd "$prefix" && find . ! -type d | sort) >"$work/files"
printf '%s\n' ./bin/tovik ./share/doc/tovik/README.md ./share/man/man1/tovik.1.gz \
    ./share/tovik/tovik.man |
    cmp -s - "$work/files" || fail "installed files:" "$(cat "$work/files")"

mkdir "$work/elsewhere" "$work/links"
ln -s "$prefix/bin/tovik" "$work/links/tovik"
size=$(wc -c <"$source/tovik.man")
for program in "$prefix/bin/tovik" "$work/links/tovik"; do
    (cd "$work/elsewhere" && PATH=/nonexistent "$program" -h </dev/null >"$work/shown")
    tail -c "$size" "$work/shown" | cmp -s - "$source/tovik.man" ||
        fail "$program -h did not print the installed manual:" "$(head -c 2000 "$work/shown")"
done

if command -v man >/dev/null; then
    MANWIDTH=80 man -l "$prefix/share/man/man1/tovik.1.gz" 2>&1 |
        sh "$source/tests/manpage_check.sh" "$source/tovik.man"
else
    echo "no man here: the man page's text is not checked"
fi
