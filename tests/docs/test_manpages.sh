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
# The installer's keywords are the parser's constants and the words its --help adds; the uninstaller shares the parser.
read -ra words < <({
    sed -n 's/^const char [A-Z_]*_STR\[\] = "\([^"]*\)";/\1/p' "$TARVO_SRC/setup/options.cpp"
    "$PREFIX/libexec/tarvo/tarvo_setup" --help | grep -oE -- '^ {7}(-[-a-z]+|discover=json)|, -h' | tr -d ' ,' | tr = '\n'
} | sort -u | xargs)
expect_named 8 tarvo_installer 14 "${words[@]}"
expect_named 8 tarvo_uninstaller 14 "${words[@]}"
# The installer's page answers to the program's name too; no page claims the bare name "uninstaller".
check "man tarvo_setup shows tarvo_installer(8)" grep -q TARVO_INSTALLER <(man -M "$PREFIX/share/man" 8 tarvo_setup 2>/dev/null)
expect_absent "$PREFIX/share/man/man8/uninstaller.8"
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

# Every page carries the version the programs report.
version=$("$PREFIX/libexec/tarvo/tarvo_setup" --version | cut -d' ' -f3)
for page in "$TARVO_SRC"/man/*.[18]; do
    check "${page##*/} carries version $version" grep -qE "^\.TH [A-Z_]+ [18] [-0-9]+ \"TARVO $version\" " "$page"
done
# Every exit status a page lists is one its program gives: the statuses of the EXIT STATUS section must be
# those of the rows "page|status|command" below, and each command must end with its status.
documented() { sed -n '/^\.SH EXIT STATUS/,/^\.SH /{/^\.TP/{n;s/^\.B \([0-9]*\)$/\1/p}}' "$TARVO_SRC/man/$1" | xargs; }
QZP="sh $PREFIX/sbin/qzprofile" UNI=$PREFIX/libexec/tarvo/uninstaller
mkdir -p /tmp/nomktemp /tmp/killer
printf '#!/bin/sh\nexit 1\n' >/tmp/nomktemp/mktemp
printf '#!/bin/sh\nkill -TERM $PPID\nexec /usr/bin/mktemp "$@"\n' >/tmp/killer/mktemp
chmod 755 /tmp/nomktemp/mktemp /tmp/killer/mktemp
declare -A witnessed
while IFS='|' read -r page want cmd; do
    got=0
    eval "$cmd" >/dev/null 2>&1 </dev/null || got=$?
    if [ "$got" = "$want" ]; then pass; else fail "$page: [$cmd] gave $got, not $want"; fi
    witnessed[$page]="${witnessed[$page]:-} $want"
done <<'EOF_STATUS'
tarvo_installer.8|0|$PREFIX/libexec/tarvo/tarvo_setup --version
tarvo_installer.8|3|$PREFIX/libexec/tarvo/tarvo_setup
tarvo_uninstaller.8|0|$UNI --help
tarvo_uninstaller.8|3|$UNI install caller=A
qzprofile.8|0|$QZP -s QZSHCOMP /opt/x
qzprofile.8|1|PATH=/tmp/nomktemp:$PATH $QZP -s V 1
qzprofile.8|3|$QZP
qzprofile.8|5|setpriv --reuid=65534 --regid=65534 --clear-groups $QZP -s V 1
qzprofile.8|6|$QZP -s V ""
qzprofile.8|7|$QZP -s QZP_V 1
qzprofile.8|8|mount --bind -o ro /etc/profile.QZ /etc/profile.QZ && (trap 'umount /etc/profile.QZ' EXIT; $QZP -s V 1)
qzprofile.8|20|$QZP -s V 1 -section
qzprofile.8|21|$QZP -s V 1 -section /s
qzprofile.8|25|$QZP -s V 1 -section s -private
qzprofile.8|110|$QZP -s QZLIB /elsewhere/lib
qzprofile.8|111|$QZP -s QZBIN /elsewhere/bin
qzprofile.8|113|echo 'EMPTY=""; export EMPTY' >>/etc/profile.QZ && $QZP -q EMPTY
qzprofile.8|116|$QZP -q NOTSET
qzprofile.8|130|PATH=/tmp/killer:$PATH $QZP -s V 1
EOF_STATUS
for page in tarvo_installer.8 tarvo_uninstaller.8 qzprofile.8; do
    listed=$(documented $page) shown=$(xargs -n1 <<<"${witnessed[$page]}" | sort -nu | xargs)
    check "$page lists exit statuses [$listed], the program gives [$shown]" test -n "$listed" -a "$listed" = "$shown"
done
finish
