# Real login shells read what the utility writes, and nothing after a delete.
. "$TARVO_SRC/tests/profile/lib.sh"

command -v tcsh >/dev/null || fail "tcsh is not installed"
for SH in $SHELLS; do
    start_shell
    clean_machine
    for v in QZSHCOMP=/opt/x QZLIB=/opt/x/lib QZBIN=/opt/x/bin; do
        expect_status 0 "$SH: $v" qzp -s "${v%%=*}" "${v#*=}"
    done
    for login in bash dash tcsh; do
        expect_eq "$SH: $login -l sees the variables" "$(login_sees $login QZSHCOMP QZLIB QZBIN)" "/opt/x|/opt/x/lib|/opt/x/bin"
    done

    expect_status 0 "$SH: delete all three" qzp -d QZSHCOMP QZLIB QZBIN
    expect_absent /etc/profile.QZ
    expect_absent /etc/csh_login.QZ
    check "$SH: /etc/profile as before" cmp -s /etc/profile "$PRISTINE/profile"
    expect_lacks /etc/csh.login "csh_login.QZ"
    expect_present /etc/profile.vornbackup
    for login in bash dash tcsh; do
        expect_eq "$SH: $login -l sees none" "$(login_sees $login QZSHCOMP QZLIB QZBIN)" "||"
    done
done
finish
