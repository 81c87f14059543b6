# Bad command lines, non-root callers, names with a past and the help text, under dash and bash.
. "$TARVO_SRC/tests/profile/lib.sh"

nobody() { setpriv --reuid=65534 --regid=65534 --clear-groups "$SH" "$QZP" "$@"; }
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
    for args in "6 -s V ''" "3 -s V 'a${NL}b'" "21 -s V a -section 'S${NL}T'" "21 -d V -section 'S$(printf '\r')'" \
        "5 -s V x" "5 -d QZSHCOMP" "6 -s SET_V"; do
        eval "set -- $args"
        want=$1; shift
        [ "$want" = 5 ] && set -- nobody "$@" || set -- env -u SET_V "$SH" "$QZP" "$@"
        expect_status "$want" "$SH: [$*]" "$@"
    done
    expect_eq "$SH: errors wrote nothing" "$(ls /etc/*.QZ /etc/*.vornbackup 2>/dev/null; cmp /etc/profile "$PRISTINE/profile" 2>&1)" ""

    # Anyone may query, also when /etc/profile is unreadable to them.
    qzp -s QZSHCOMP /opt/x
    chmod 600 /etc/profile
    expect_out "$SH: non-root query" "0:/opt/x" eval 'nobody -q QZSHCOMP 2>&1'
    chmod 644 /etc/profile

    # Names the utility once used for itself are plain names; without an argument the value comes from the environment.
    qzp -s PROFILE_QZ /opt/p && qzp -s SH_SOURCE_LINE /opt/p && PID=inherited qzp -s PID
    expect_eq "$SH: their values" "$(qzp -q PROFILE_QZ)|$(qzp -q SH_SOURCE_LINE)|$(qzp -q PID)" "/opt/p|/opt/p|inherited"
    expect_lacks /etc/profile /opt/p

    help=$(qzp -h)
    expect_eq "$SH: help headings" "$(printf '%s\n' "$help" | grep -c -E '^(NAME|SYNOPSIS|DESCRIPTION|OPTIONS|RETURN CODE|EXAMPLES)$')" 6
    expect_eq "$SH: -? prints the same" "$(qzp '-?')" "$help"
done
finish
