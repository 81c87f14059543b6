#!/bin/bash
# The manual pages as installed: every page renders, and each names every
# option its program accepts, the options being read from the programs themselves.
. "$TARVO_SRC/tests/e2e/lib.sh"
PREFIX=/tmp/prefix
MAN="$PREFIX/share/man"
cmake --install "$TARVO_BUILD" --prefix "$PREFIX" >/dev/null || fail "cmake --install"
for f in bin/tarvo_kit sbin/qzprofile libexec/tarvo/tarvo_setup libexec/tarvo/uninstaller; do
    check "$f installed" test -x "$PREFIX/$f"
done

# The words set in bold on a page, one a line: a page names an option only there.
bold_words() {
    MAN_KEEP_FORMATTING=1 MANWIDTH=200 man -M "$MAN" "$1" "$2" 2>/dev/null |
        perl -ne 'while (/((?:(.)\x08\2)+)/g) { ($b = $1) =~ s/.\x08//g; print "$_\n" for split /[\s|,=]+/, $b }' |
        sort -u
}
# expect_named SECTION PAGE WORD... : the page renders and sets each word in bold.
expect_named() {
    local section=$1 page=$2 words w; shift 2
    words=$(bold_words "$section" "$page")
    if [ -z "$words" ]; then fail "man $section $page renders nothing"; return; fi
    for w in "$@"; do
        if grep -qxF -- "$w" <<<"$words"; then pass; else fail "$page($section) does not name $w"; fi
    done
}

# The installer's keywords are the parser's constants; the uninstaller shares the parser.
read -ra keywords < <(sed -n 's/^const char [A-Z_]*_STR\[\] = "\([^"]*\)";/\1/p' "$TARVO_SRC/setup/options.cpp" | xargs)
check "keywords found in the parser" test "${#keywords[@]}" -ge 10
expect_named 8 tarvo_setup "${keywords[@]}"
expect_named 8 uninstaller "${keywords[@]}"

# The profile utility's options are those of its own synopsis.
read -ra qzopts < <("$PREFIX/sbin/qzprofile" -h | sed -n '/^SYNOPSIS/,/^DESCRIPTION/p' | grep -o -- '-[A-Za-z?]*' | sort -u | xargs)
check "options found in the profile utility's help" test "${#qzopts[@]}" -ge 6
expect_named 8 qzprofile "${qzopts[@]}"

# The kit tool: the words it compares its arguments with, and those of its usage text.
read -ra kitopts < <({
    grep -o '== "[-a-z][-a-z]*"' "$TARVO_SRC/kit/tarvo_kit.cpp" | cut -d'"' -f2
    "$PREFIX/bin/tarvo_kit" --help | grep -o -- '[[ ]--\?[a-z][-a-z]*' | tr -d ' ['
    "$PREFIX/bin/tarvo_kit" --help | sed -n 's/^\(usage:\)\? *tarvo_kit \([-a-z]*\).*/\2/p'
} | sort -u | xargs)
check "options found in the kit tool" test "${#kitopts[@]}" -ge 8
expect_named 1 tarvo_kit "${kitopts[@]}"
finish
