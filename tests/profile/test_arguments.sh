# Bad command lines, non-root callers, names with a past and the help text, under dash and bash.
. "$TARVO_SRC/tests/profile/lib.sh"

# "@" runs the utility as an unprivileged user.
as() { if [ "${1-}" = @ ]; then shift; setpriv --reuid=65534 --regid=65534 --clear-groups "$SH" "$QZP" "$@"; else env -u SET_V "$SH" "$QZP" "$@"; fi; }
for SH in $SHELLS; do
    start_shell
    clean_machine
    # Each case: the expected status, then the arguments.
    for args in 3 "3 -x" "3 -s" "3 -s 9V x" "3 -s V a b c d" "6 -s V" "3 -q" "3 -q A B" "3 -s V a -private x" \
        "20 -s V a -section" "20 -s V a -section S x" "20 -s V a b c d -section S" "20 -d V -section" "21 -s V a -section -x" \
        "21 -s V a -section /x" "25 -s V a -section S -private" "25 -s V a -private -section S" "25 -s V a -section -private" \
        "7 -s QZP_X a" "7 -s QZNOLOG_flag a" "7 -s IFS a" "6 -s V ''" "3 -s V 'a${NL}b'" "21 -s V a -section 'S${NL}T'" \
        "21 -d V -section 'S$(printf '\r')'" "6 -s SET_V" "5 @ -s V x" "5 @ -d QZSHCOMP"; do
        eval "set -- $args"
        expect_status "$1" "$SH: [$args]" as "${@:2}"
    done
    expect_eq "$SH: errors wrote nothing" "$(ls /etc/*.QZ /etc/*.vornbackup 2>/dev/null; cmp /etc/profile "$PRISTINE/profile" 2>&1)" ""

    # Anyone may query, also when /etc/profile is unreadable to them.
    qzp -s QZSHCOMP /opt/x
    chmod 600 /etc/profile
    expect_out "$SH: non-root query" "0:/opt/x" eval 'as @ -q QZSHCOMP 2>&1'
    chmod 644 /etc/profile
    # Names the utility once used for itself are plain names; without an argument the value comes from the environment.
    qzp -s PROFILE_QZ /opt/p && qzp -s SH_SOURCE_LINE /opt/p && PID=inherited qzp -s PID
    expect_eq "$SH: their values" "$(qzp -q PROFILE_QZ)|$(qzp -q SH_SOURCE_LINE)|$(qzp -q PID)" "/opt/p|/opt/p|inherited"
    expect_lacks /etc/profile /opt/p
    help=$(qzp -h)
    expect_eq "$SH: help headings, and -? prints the same" "$(printf '%s\n' "$help" | grep -c -E '^(NAME|SYNOPSIS|DESCRIPTION|OPTIONS|RETURN CODE|EXAMPLES)$'; qzp '-?')" "6$NL$help"
done
finish
