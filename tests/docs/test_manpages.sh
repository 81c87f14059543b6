#!/bin/bash
# Each installed manual page sets in bold every option its program accepts, as read from the program.
. "$TARVO_SRC/tests/e2e/lib.sh"
PREFIX=/tmp/prefix
cmake --install "$TARVO_BUILD" --prefix "$PREFIX" >/dev/null || fail "cmake --install"
# expect_named SECTION PAGE LEAST WORD... : at least LEAST words were found, and the page sets each in bold.
expect_named() {
    local words w
    words=$(MAN_KEEP_FORMATTING=1 MANWIDTH=200 man -M "$PREFIX/share/man" "$1" "$2" 2>/dev/null |
        perl -ne 'while (/((?:(.)\x08\2)+)/g) { ($b = $1) =~ s/.\x08//g; print "$_\n" for split /[\s|,=]+/, $b }')
    check "$2($1): at least $3 words to look for, and a page" test $# -ge $(($3 + 3)) -a -n "$words"
    for w in "${@:4}"; do
        if grep -qxF -- "$w" <<<"$words"; then pass; else fail "$2($1) does not name $w"; fi
    done
}
# The installer's keywords are the parser's constants; the uninstaller shares the parser.
read -ra words < <(sed -n 's/^const char [A-Z_]*_STR\[\] = "\([^"]*\)";/\1/p' "$TARVO_SRC/setup/options.cpp" | xargs)
expect_named 8 tarvo_setup 10 "${words[@]}"
expect_named 8 uninstaller 10 "${words[@]}"
# The profile utility's options are those of its own synopsis.
read -ra words < <("$PREFIX/sbin/qzprofile" -h | sed -n '/^SYNOPSIS/,/^DESCRIPTION/p' | grep -o -- '-[A-Za-z?]*' | sort -u | xargs)
expect_named 8 qzprofile 6 "${words[@]}"
# The kit tool: the words it compares its arguments with, and those of its usage text.
read -ra words < <({
    grep -o '== "[-a-z][-a-z]*"' "$TARVO_SRC/kit/tarvo_kit.cpp" | cut -d'"' -f2
    "$PREFIX/bin/tarvo_kit" --help | grep -o -- '[[ ]--\?[a-z][-a-z]*' | tr -d ' ['
    "$PREFIX/bin/tarvo_kit" --help | sed -n 's/^\(usage:\)\? *tarvo_kit \([-a-z]*\).*/\2/p'
} | sort -u | xargs)
expect_named 1 tarvo_kit 8 "${words[@]}"
finish
