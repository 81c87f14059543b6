# Helpers for the profile utility's tests; sourced inside the sandbox.
# shellcheck source=../e2e/lib.sh
. "$TARVO_SRC/tests/e2e/lib.sh"
# The assembled utility, where an unprivileged user can read it too (in the
# private /etc, which no test mounts over).
QZP=/etc/qzprofile.under-test
cp "$TARVO_BUILD/qzprofile" "$QZP"
chmod 644 "$QZP"
SHELLS="dash bash"
SH=dash

# Each shell runs the utility with another awk: dash with mawk, bash with
# gawk. Every awk path the utility looks for is bound to the chosen one.
start_shell() {
    local want=mawk path target done=" "
    [ "$SH" = dash ] || want=gawk
    echo "== $SH with $want"
    for path in /usr/bin/nawk /usr/bin/gawk /usr/local/bin/gawk; do
        [ -e "$path" ] || continue
        target=$(readlink -f "$path")
        case $done in *" $target "*) continue ;; esac
        done="$done$target "
        while umount "$target" 2>/dev/null; do :; done
        [ "$target" = "/usr/bin/$want" ] || mount --bind "/usr/bin/$want" "$target"
    done
}
NL='
'

# Runs the utility under the shell in SH.
qzp() { "$SH" "$QZP" "$@"; }

# The login files as the sandbox started, to start every scenario afresh.
PRISTINE=/tmp/pristine
mkdir -p "$PRISTINE"
for f in profile csh.login; do
    [ -f "/etc/$f" ] && [ ! -e "$PRISTINE/$f" ] && cp -p "/etc/$f" "$PRISTINE/$f"
done
# What /tmp holds before any run: the above, and a checkout kept visible there by the sandbox.
TMP_BEFORE=$(ls /tmp)

clean_machine() {
    rm -f /etc/profile.QZ /etc/csh_login.QZ /etc/*.vornbackup /etc/cshrc /etc/.login /etc/login.csh \
        "$HOME/.profile" "$HOME/.profile.vornbackup"
    for f in profile csh.login; do
        [ -e "$PRISTINE/$f" ] && cp -p "$PRISTINE/$f" "/etc/$f"
    done
}

# What a fresh login shell of the given kind sees of the named variables, joined by "|".
login_sees() {
    local login=$1 v out=""; shift
    for v in "$@"; do
        case $login in
            tcsh) out=$out\|$(printf 'if ( $?%s ) printf "=%%s\\n" "$%s"\n' "$v" "$v" |
                env -u "$v" tcsh -l 2>/dev/null | sed -n 's/^=//p') ;;
            *) out=$out\|$(env -u "$v" "$login" -lc "printf '%s\n' \"\${$v-}\"" 2>/dev/null) ;;
        esac
    done
    printf '%s\n' "${out#|}"
}

expect_eq() {  # expect_eq "what" got want
    if [ "$2" = "$3" ]; then pass; else fail "$1: got [$2], expected [$3]"; fi
}
expect_out() {  # expect_out "what" "status:stdout" command...
    local what=$1 want=$2 out rc=0; shift 2
    out=$("$@") || rc=$?
    expect_eq "$what" "$rc:$out" "$want"
}
