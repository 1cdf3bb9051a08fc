# Writes the man page (roff) of the plain-text manual tovik.man, so that the
# text printed by "tovik -h" stays the one kept by hand.
#
#   awk -v source="tovik 1.0" -f cmake/manpage.awk tovik.man > tovik.1
#
# It goes by the manual's layout, not its wording:
#   - the first line is the title line: "TOVIK(1)   User Commands   TOVIK(1)";
#   - a line starting at column 0 is a section heading, in capitals;
#   - every other line is indented body text or empty.
# Bodies keep their lines as they are (no filling, the common indent taken
# off), so tables and lists look as in the text; only NAME is filled, the
# form whatis and apropos read. Any other layout stops with a message.

function fail(message) {
    printf "%s:%d: %s\n", FILENAME, FNR, message > "/dev/stderr"
    failed = 1
    exit 1
}

# Roff for one line of text: a backslash or a line-starting '.' would be
# read as markup, and '-', quotes, '~' and '^' would print as typographic
# glyphs that cannot be copied back into a shell.
function roff(text,    out, i, c) {
    out = ""
    for (i = 1; i <= length(text); i++) {
        c = substr(text, i, 1)
        if (c == "\\") out = out "\\e"
        else if (c == "-") out = out "\\-"
        else if (c == "'") out = out "\\(aq"
        else if (c == "`") out = out "\\(ga"
        else if (c == "~") out = out "\\(ti"
        else if (c == "^") out = out "\\(ha"
        else out = out c
    }
    if (substr(out, 1, 1) == ".") out = "\\&" out
    return out
}

# A macro argument: roff() plus double quotes, which would end the argument.
function argument(text,    out, i, c) {
    out = ""
    text = roff(text)
    for (i = 1; i <= length(text); i++) {
        c = substr(text, i, 1)
        out = out (c == "\"" ? "\\(dq" : c)
    }
    return "\"" out "\""
}

function indent_of(line) {
    match(line, /^ */)
    return RLENGTH
}

# Prints the section gathered so far: its heading, then its body without
# the trailing empty lines and with the smallest indent of its lines removed.
function flush(    last, least, i, n, line) {
    if (heading == "") return
    print ".SH " argument(heading)
    last = count
    while (last > 0 && body[last] == "") last--
    least = -1
    for (i = 1; i <= last; i++) {
        if (body[i] == "") continue
        n = indent_of(body[i])
        if (least < 0 || n < least) least = n
    }
    print (heading == "NAME" ? ".fi" : ".nf")
    for (i = 1; i <= last; i++) {
        line = substr(body[i], least + 1)
        if (heading == "NAME") {
            if (line == "") continue
            sub(/^ +/, "", line)
        }
        print roff(line)
    }
    count = 0
}

FNR == 1 {
    if (!match($0, /^[A-Za-z0-9_.-]+\([0-9][A-Za-z]*\)/)) fail("the first line is not a title line like \"TOVIK(1)   User Commands   TOVIK(1)\"")
    name = substr($0, 1, RLENGTH)
    split(name, part, "(")
    section = substr(part[2], 1, length(part[2]) - 1)
    title = substr($0, RLENGTH + 1)
    sub(/^[ \t]+/, "", title)
    sub(/[ \t]+[^ \t]+[ \t]*$/, "", title)  # the name repeated at the right
    print ".\\\" The man page of tovik, made at build time from tovik.man:"
    print ".\\\" edit tovik.man, not this file."
    print ".TH " argument(part[1]) " " argument(section) " \"\" " argument(source) " " argument(title)
    print ".ad l"  # words as in the text: no stretched spaces,
    print ".nh"    # and no hyphens that are not there
    next
}

{ sub(/\r$/, "") }

/^[^ \t]/ {
    if ($0 ~ /[a-z]/) fail("a line at column 0 is taken as a section heading, which is all capitals; indent body text")
    flush()
    heading = $0
    sub(/[ \t]+$/, "", heading)
    next
}

{
    if (heading == "") {
        if ($0 ~ /[^ \t]/) fail("body text before the first section heading")
        next
    }
    line = $0
    if (line !~ /[^ \t]/) line = ""
    if (line ~ /\t/) fail("a tab in the text: use spaces, which both forms show alike")
    body[++count] = line
}

END {
    if (failed) exit 1
    if (FNR == 0) { FILENAME = "tovik.man"; fail("the manual is empty") }
    flush()
    if (heading == "") fail("no section heading")
}
