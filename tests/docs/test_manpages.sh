#!/bin/bash
# Each installed manual page sets in bold every option its program accepts, as read from the program.
. "$TARVO_SRC/tests/e2e/lib.sh"
PREFIX=/tmp/prefix
cmake --install "$TARVO_BUILD" --prefix "$PREFIX" >/dev/null || fail "cmake --install"
check "programs installed" test -x "$PREFIX/libexec/tarvo/tarvo_setup" -a -x "$PREFIX/libexec/tarvo/uninstaller"
# expect_named SECTION PAGE WORD... : the page renders and sets each word in bold.
expect_named() {
    local words w
    words=$(MAN_KEEP_FORMATTING=1 MANWIDTH=200 man -M "$PREFIX/share/man" "$1" "$2" 2>/dev/null |
        perl -ne 'while (/((?:(.)\x08\2)+)/g) { ($b = $1) =~ s/.\x08//g; print "$_\n" for split /[\s|,=]+/, $b }')
    [ -n "$words" ] || { fail "man $1 $2 renders nothing"; return; }
    for w in "${@:3}"; do
        if grep -qxF -- "$w" <<<"$words"; then pass; else fail "$2($1) does not name $w"; fi
    done
}
# The installer's keywords are the parser's constants; the uninstaller shares the parser.
read -ra words < <(sed -n 's/^const char [A-Z_]*_STR\[\] = "\([^"]*\)";/\1/p' "$TARVO_SRC/setup/options.cpp" | xargs)
check "keywords found in the parser" test "${#words[@]}" -ge 10
expect_named 8 tarvo_setup "${words[@]}"
expect_named 8 uninstaller "${words[@]}"
# The profile utility's options are those of its own synopsis.
read -ra words < <("$PREFIX/sbin/qzprofile" -h | sed -n '/^SYNOPSIS/,/^DESCRIPTION/p' | grep -o -- '-[A-Za-z?]*' | sort -u | xargs)
check "options found in the profile utility's help" test "${#words[@]}" -ge 6
expect_named 8 qzprofile "${words[@]}"
# The kit tool: the words it compares its arguments with, and those of its usage text.
read -ra words < <({
    grep -o '== "[-a-z][-a-z]*"' "$TARVO_SRC/kit/tarvo_kit.cpp" | cut -d'"' -f2
    "$PREFIX/bin/tarvo_kit" --help | grep -o -- '[[ ]--\?[a-z][-a-z]*' | tr -d ' ['
    "$PREFIX/bin/tarvo_kit" --help | sed -n 's/^\(usage:\)\? *tarvo_kit \([-a-z]*\).*/\2/p'
} | sort -u | xargs)
check "options found in the kit tool" test "${#words[@]}" -ge 8
expect_named 1 tarvo_kit "${words[@]}"
finish
