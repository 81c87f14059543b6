# Values holding characters that a shell or a pattern would interpret survive
# set, query, login shells and delete; under dash and under bash.
. "$TARVO_SRC/tests/profile/lib.sh"

for SH in $SHELLS; do
    start_shell
    clean_machine
    qzp -s QZSHCOMP /opt/x
    for v in 'a$b $(id) `id` \n \\x' "x&y|z*[w] it's;" '#c QZSHCOMP=/bad /p' 'bang!x a!' 'q"uo"te' '~root' 'x; fi; y' QZSHCOMP=/bad; do
        expect_status 0 "$SH: set [$v]" qzp -s ODD "$v"
        expect_eq "$SH: query, dash and tcsh login [$v]" "$(qzp -q ODD)|$(login_sees dash ODD)|$(login_sees tcsh ODD)" "$v|$v|$v"
        expect_eq "$SH: one block [$v]" "$(grep -c '^ODD=' /etc/profile.QZ)" 1
    done
    expect_eq "$SH: values left QZSHCOMP alone" "$(qzp -q QZSHCOMP)" /opt/x
    expect_status 0 "$SH: delete" qzp -d ODD
    expect_lacks /etc/profile.QZ ODD
    expect_lacks /etc/csh_login.QZ ODD
    expect_eq "$SH: QZSHCOMP kept" "$(qzp -q QZSHCOMP)" /opt/x
done
finish
