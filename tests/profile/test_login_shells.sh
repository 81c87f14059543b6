# Real login shells read what the utility writes, and nothing after a delete.
. "$TARVO_SRC/tests/profile/lib.sh"

if ! command -v tcsh >/dev/null; then
    echo "tcsh is not installed" >&2
    fail "tcsh missing"
fi
for SH in $SHELLS; do
    echo "== $SH"
    clean_machine
    expect_status 0 "$SH: QZSHCOMP" qzp -s QZSHCOMP /opt/x
    expect_status 0 "$SH: QZLIB" qzp -s QZLIB /opt/x/lib
    expect_status 0 "$SH: QZBIN" qzp -s QZBIN /opt/x/bin
    for login in bash dash tcsh; do
        expect_eq "$SH: $login -l sees the variables" "$(login_sees $login)" "/opt/x|/opt/x/lib|/opt/x/bin"
    done

    expect_status 0 "$SH: delete all three" qzp -d QZSHCOMP QZLIB QZBIN
    expect_absent /etc/profile.QZ
    expect_absent /etc/csh_login.QZ
    check "$SH: /etc/profile as before" cmp -s /etc/profile "$PRISTINE/profile"
    expect_lacks /etc/csh.login "csh_login.QZ"
    expect_present /etc/profile.vornbackup
    for login in bash dash tcsh; do
        expect_eq "$SH: $login -l sees none" "$(login_sees $login)" "||"
    done
done
finish
