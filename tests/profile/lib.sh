# Helpers for the profile utility's tests; sourced inside the sandbox.
# shellcheck source=../e2e/lib.sh
. "$TARVO_SRC/tests/e2e/lib.sh"
QZP=$TARVO_SRC/setup/qzprofile.sh
SHELLS="dash bash"
SH=dash

# Runs the utility under the shell in SH.
qzp() { "$SH" "$QZP" "$@"; }

# The login files as the sandbox started, to start every scenario afresh.
PRISTINE=/tmp/pristine
mkdir -p "$PRISTINE"
for f in /etc/profile /etc/csh.login; do
    [ -f "$f" ] && [ ! -e "$PRISTINE/${f##*/}" ] && cp -p "$f" "$PRISTINE/${f##*/}"
done

clean_machine() {
    rm -f /etc/profile.QZ /etc/csh_login.QZ /etc/*.vornbackup "$HOME/.profile" "$HOME/.profile.vornbackup"
    for f in /etc/profile /etc/csh.login; do
        [ -e "$PRISTINE/${f##*/}" ] && cp -p "$PRISTINE/${f##*/}" "$f"
    done
    rm -f /etc/cshrc /etc/.login /etc/login.csh
}

# What a fresh login shell of the given kind sees: "QZSHCOMP|QZLIB|QZBIN".
login_sees() {
    case $1 in
        tcsh) printf '%s\n' 'printf "=%s|%s|%s\n" "`printenv QZSHCOMP`" "`printenv QZLIB`" "`printenv QZBIN`"' |
            env -u QZSHCOMP -u QZLIB -u QZBIN tcsh -l 2>/dev/null | sed -n 's/^=//p' ;;
        *) env -u QZSHCOMP -u QZLIB -u QZBIN "$1" -lc 'printf "%s|%s|%s\n" "${QZSHCOMP-}" "${QZLIB-}" "${QZBIN-}"' 2>/dev/null ;;
    esac
}

# The value a fresh login shell sees for one variable.
login_value() {
    case $1 in
        tcsh) printf 'if ( $?%s ) printf "=%%s\\n" "$%s"\n' "$2" "$2" | tcsh -l 2>/dev/null | sed -n 's/^=//p' ;;
        *) "$1" -lc "printf '%s\n' \"\${$2-}\"" 2>/dev/null ;;
    esac
}

expect_eq() {  # expect_eq "what" got want
    if [ "$2" = "$3" ]; then pass; else fail "$1: got [$2], expected [$3]"; fi
}
