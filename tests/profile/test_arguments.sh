# Bad command lines, non-root callers and the help text, under dash and bash.
. "$TARVO_SRC/tests/profile/lib.sh"

for SH in $SHELLS; do
    start_shell
    clean_machine
    # Each case: arguments, then the expected status after the last ":".
    for args in ":3" "-x:3" "-s:3" "-s 9V x:3" "-s V a b c d:3" "-s V:6" "-q:3" "-q A B:3" \
        "-s V a -private x:3" "-s V a -section:20" "-s V a -section S x:20" \
        "-s V a b c d -section S:20" "-d V -section:20" "-s V a -section -x:21" \
        "-s V a -section /x:21" "-s V a -section S -private:25" "-s V a -private -section S:25" \
        "-s V a -section -private:25" "-s QZP_X a:7" "-s QZNOLOG_flag a:7" "-s IFS a:7"; do
        # shellcheck disable=SC2086 # the case is a word list
        expect_status "${args##*:}" "$SH: [${args%:*}]" qzp ${args%:*}
    done
    expect_status 6 "$SH: empty value" qzp -s V ""
    expect_status 3 "$SH: value with a line feed" qzp -s V "a${NL}b"
    expect_status 21 "$SH: section with a line feed" qzp -s V a -section "S${NL}T"
    expect_status 21 "$SH: section with a carriage return" qzp -d V -section "S$(printf '\r')"
    expect_eq "$SH: errors wrote nothing" \
        "$(ls /etc/profile.QZ /etc/csh_login.QZ /etc/profile.vornbackup 2>/dev/null; cmp /etc/profile "$PRISTINE/profile" 2>&1)" ""

    # Only root may change the files; anyone may query.
    qzp -s QZSHCOMP /opt/x
    nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$SH" "$QZP" "$@"; }
    expect_status 5 "$SH: non-root set" nobody -s V x
    expect_status 5 "$SH: non-root delete" nobody -d QZSHCOMP
    expect_eq "$SH: non-root query" "$(nobody -q QZSHCOMP)" /opt/x
    chmod 600 /etc/profile
    expect_out "$SH: non-root query, /etc/profile unreadable" "0:/opt/x" eval 'nobody -q QZSHCOMP 2>&1'
    chmod 644 /etc/profile
    expect_lacks /etc/profile.QZ "V=x"
    expect_contains /etc/profile.QZ "QZSHCOMP=/opt/x"

    # Names the utility once used for itself are plain names; the value
    # without an argument comes from the environment only.
    expect_status 0 "$SH: PROFILE_QZ" qzp -s PROFILE_QZ /opt/p
    expect_status 0 "$SH: SH_SOURCE_LINE" qzp -s SH_SOURCE_LINE /opt/p
    expect_status 0 "$SH: PID from the environment" env PID=inherited "$SH" "$QZP" -s PID
    expect_status 6 "$SH: SET_V unset" env -u SET_V "$SH" "$QZP" -s SET_V
    expect_eq "$SH: their values" "$(qzp -q PROFILE_QZ)|$(qzp -q SH_SOURCE_LINE)|$(qzp -q PID)" "/opt/p|/opt/p|inherited"
    expect_absent /opt/p
    expect_lacks /etc/profile /opt/p

    help=$(qzp -h)
    expect_eq "$SH: help headings" "$(printf '%s\n' "$help" | grep -c -E '^(NAME|SYNOPSIS|DESCRIPTION|OPTIONS|RETURN CODE|EXAMPLES)$')" 6
    expect_eq "$SH: -? prints the same" "$(qzp '-?')" "$help"
done
finish
