# Helpers for the profile utility's tests; sourced inside the sandbox.
# shellcheck source=../e2e/lib.sh
. "$TARVO_SRC/tests/e2e/lib.sh"
# The assembled utility, in the private /etc where an unprivileged user can read it too.
QZP=/etc/qzprofile.under-test
install -m 644 "$TARVO_BUILD/qzprofile" "$QZP"
SHELLS="dash bash" SH=dash
NL=$'\n'
SH_SOURCE='test -r /etc/profile.QZ && { QZ_SECTION=vorn; export QZ_SECTION; . /etc/profile.QZ; unset QZ_SECTION; } # Added by Qorzel'
CSH_SOURCE='setenv QZ_SECTION vorn; if ( -r /etc/csh_login.QZ ) source /etc/csh_login.QZ; unsetenv QZ_SECTION # Added by Qorzel'

# dash runs the utility with mawk, bash with gawk: every awk path it looks for is bound to that one.
start_shell() {
    local want=mawk path target
    [ "$SH" = dash ] || want=gawk
    echo "== $SH with $want"
    for path in /usr/bin/nawk /usr/bin/gawk /usr/local/bin/gawk; do
        [ -e "$path" ] || continue
        target=$(readlink -f "$path")
        while umount "$target" 2>/dev/null; do :; done
        [ "$target" = "/usr/bin/$want" ] || mount --bind "/usr/bin/$want" "$target"
    done
}
qzp() { "$SH" "$QZP" "$@"; }

# The login files as the sandbox started, to start every scenario afresh.
PRISTINE=/tmp/pristine
[ -d "$PRISTINE" ] || { mkdir "$PRISTINE" && cp -p /etc/profile /etc/csh.login "$PRISTINE/"; }
clean_machine() {
    rm -f /etc/profile.QZ /etc/csh_login.QZ /etc/*.vornbackup "$HOME/.profile" "$HOME/.profile.vornbackup"
    cp -p "$PRISTINE"/* /etc/
}

# What a shell sourcing the shared files with the given QZ_SECTION sees of V: dash|tcsh.
section_sees() {
    printf '%s|%s\n' "$(QZ_SECTION=$1 dash -c '. /etc/profile.QZ; printf "%s\n" "${V-}"')" \
        "$(printf 'setenv QZ_SECTION %s; source /etc/csh_login.QZ; if ( $?V ) echo "$V"\n' "$1" | tcsh -f 2>/dev/null)"
}

expect_eq() { if [ "$2" = "$3" ]; then pass; else fail "$1: got [$2], expected [$3]"; fi; }  # "what" got want
expect_out() { local out rc=0; out=$("${@:3}") || rc=$?; expect_eq "$1" "$rc:$out" "$2"; }  # "what" "status:stdout" command...
