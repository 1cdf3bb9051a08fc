#!/bin/sh
# Checks that a rendered man page (standard input, plain text as "man"
# prints it into a pipe) shows the plain-text manual given as argument:
# every line of every section, in order, with its spacing inside the line.
# Only the indent, empty lines, the header and footer lines, and where the
# filled NAME section breaks its lines may differ.
#
#   MANWIDTH=80 man -l tovik.1.gz | tests/manpage_check.sh tovik.man
set -eu
manual=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Both forms have their headings at column 0 and the first line is the
# title or header; the rendering's last line is its footer.
normalize='
    NR == 1 { next }
    /^[^ ]/ { keep(); held = $0; in_name = ($0 == "NAME"); next }
    { sub(/^ +/, ""); sub(/ +$/, "") }
    $0 == "" { next }
    in_name { held = held == "NAME" ? "NAME\n" $0 : held " " $0; next }
    { keep(); held = $0 }
    function keep() { if (held != "") line[++n] = held; held = "" }
    END { keep(); for (i = 1; i <= n - footer; i++) print line[i] }'
awk -v footer=0 "$normalize" "$manual" >"$work/expected"
awk -v footer=1 "$normalize" >"$work/shown"

if ! cmp -s "$work/expected" "$work/shown"; then
    echo "the man page does not show $manual as it is:" >&2
    diff "$work/expected" "$work/shown" >&2 || true
    exit 1
fi
