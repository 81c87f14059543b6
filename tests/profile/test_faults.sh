# Login files that cannot be renamed over or written, failing opens, signals and kills, and root with HOME in a user's
# directory.
. "$TARVO_SRC/tests/profile/lib.sh"

FILES="/etc/profile /etc/profile.QZ /etc/csh_login.QZ /etc/csh.login"
state() { ls -A /etc "$@"; stat -c '%n %a' $FILES; cat $FILES; } 2>/dev/null
# QZSHCOMP is set and /etc/csh.login lost its source line, so that setting QZLIB changes all four files.
prepare() { clean_machine; qzp -s QZSHCOMP /opt/x; sed -i '$d' /etc/csh.login; before=$(state /tmp); }
# "stub TOOL PATTERN ACTION": acts once when the arguments match, then becomes a link to the real tool, which the next stub replaces.
stub() {
    printf '#!/bin/sh\ncase "$*" in %s) ln -sf %s "$0"; %s ;; esac\nexec %s "$@"\n' "$2" "$(command -v "$1")" "$3" "$(command -v "$1")" >/opt/stub/new
    chmod 755 /opt/stub/new && mv -f /opt/stub/new "/opt/stub/$1"
}
stubbed() { PATH="/opt/stub:$PATH" "$SH" "$QZP" "$@"; }
# A stub's action that kills the run itself, also when a subshell of it started the tool.
KILL_RUN='p=$PPID; read -r _ _ _ pp _ </proc/$p/stat; cmp -s /proc/$p/cmdline /proc/$pp/cmdline && p=$pp; kill -KILL $p'
mkdir -p /opt/stub

for SH in $SHELLS; do
    start_shell
    # A bind-mounted login file cannot be renamed over: it is written in place.
    prepare
    cp /etc/csh.login /opt/bound && mount --bind /opt/bound /etc/csh.login
    expect_out "$SH: set beside a bind-mounted login file" "0:" qzp -s QZLIB /opt/x/lib
    expect_eq "$SH: written in place, shared files whole with mode 644" "$(tail -qn 1 /opt/bound /etc/csh_login.QZ; stat -c %a /etc/*.QZ)" \
        "$CSH_SOURCE${NL}setenv QZLIB /opt/x/lib${NL}644${NL}644"
    umount /etc/csh.login

    # A read-only one cannot take the source line: it is skipped, and the set still publishes, silently.
    prepare
    mount --bind /etc/csh.login /etc/csh.login && mount -o remount,bind,ro /etc/csh.login
    expect_out "$SH: set beside a read-only login file" "0:" eval 'qzp -s QZLIB /opt/x/lib 2>&1'
    expect_eq "$SH: that file skipped, the rest published" "$(tail -n 1 /etc/csh.login | grep -c QZ; qzp -q QZLIB; tail -qn 1 /etc/csh_login.QZ /etc/profile)" \
        "0$NL/opt/x/lib${NL}setenv QZLIB /opt/x/lib$NL$SH_SOURCE"
    umount /etc/csh.login
    # A signal at the start changes nothing.
    prepare
    stub mktemp '-d*' 'kill -TERM $PPID'
    expect_status 130 "$SH: set, signalled at its start" stubbed -s QZLIB /opt/x/lib
    expect_eq "$SH: nothing changed" "$(state /tmp)" "$before"

    # A signal while the scratch directory goes after a success.
    clean_machine && stub rm '-rf*' 'kill -TERM $PPID'
    expect_out "$SH: set, signalled at its end" "0:" stubbed -s QZSHCOMP /opt/x
    expect_eq "$SH: the set stands" "$(qzp -q QZSHCOMP; ls /etc | grep -c -e QZ -e vornbackup)" "/opt/x${NL}4"
    # A run killed while it renames leaves its scratch directory; the next run clears it, but never one of a live
    # run, of another user, or with another mode.
    prepare && stub mv '*' "$KILL_RUN"
    expect_status 137 "$SH: set, killed" stubbed -s QZLIB /opt/x/lib
    others="/etc/.qzprofile.$$.live /etc/.qzprofile.99999999.user /etc/.qzprofile.99999998.mode"
    mkdir -m 700 $others && chmod 755 /etc/.qzprofile.99999998.mode && chown 65534 /etc/.qzprofile.99999999.user
    qzp -s QZLIB /opt/x/lib
    expect_eq "$SH: what the killed run left is gone" "$(ls -d /etc/.qzprofile.* /etc/*.QZ.* /tmp/prof_* 2>/dev/null | tr '\n' ' ')" \
        "$(printf '%s\n' $others | sort | tr '\n' ' ')"
    rmdir $others
    # A shared file left empty by a delete that cannot be removed: exit 8, every file as it was.
    clean_machine && qzp -s QZSHCOMP /opt/x && before=$(state /tmp) && stub rm "*/etc/profile.QZ*" 'exit 1'
    expect_status 8 "$SH: delete, the emptied shared file not removable" stubbed -d QZSHCOMP
    expect_eq "$SH: nothing changed" "$(state /tmp)" "$before"
    # Every login-file edit is backed up, here the removal of a source line.
    clean_machine
    QZPROFILE_BACKUP_PROFILES=0 qzp -s QZSHCOMP /opt/x && cp -p /etc/profile /opt/before && qzp -d QZSHCOMP
    check "$SH: backup before a delete" cmp -s /etc/profile.vornbackup /opt/before

done

# An open refused anywhere in a run (the Nth open of every process, after the four that start the shell and
# read the script) ends it with exit 8 and every file as it was, or it succeeds, silently either way; a clean
# rerun then gives what a clean run gives. (The scratch directory may stay when its removal is refused.)
SH=dash
start_shell
prepare
before=$(state) && mkdir -p /opt/start && cp -p $FILES /opt/start/
qzp -s QZLIB /opt/x/lib
after=$(state)
for n in 5 7 9 12 16 21 27 34 42; do
    cp -p /opt/start/* /etc/
    out=$(strace -f -o /dev/null -e trace=openat -e inject=openat:error=EACCES:when=$n "$SH" "$QZP" -s QZLIB /opt/x/lib 2>&1)
    case $?:$out:$(state) in
        "0::$after" | "8::$before") pass ;;
        *) fail "open $n refused: status or output wrong, or files neither old nor new" ;;
    esac
    qzp -s QZLIB /opt/x/lib
    expect_eq "open $n refused: rerun" "$(state)" "$after"
done
finish
