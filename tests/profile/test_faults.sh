# Login files that cannot be renamed over or written, failing opens, and a
# PATH that holds only the tools the utility may use.
. "$TARVO_SRC/tests/profile/lib.sh"

FILES="/etc/profile /etc/profile.QZ /etc/csh_login.QZ /etc/csh.login"
# Content and mode of the files a set touches, and what else is in /etc.
state() {
    local f
    ls -A /etc
    for f in $FILES; do
        printf '%s %s\n' "$f" "$(stat -c %a "$f" 2>/dev/null)"
        cat "$f" 2>/dev/null
    done
}
# A machine where QZSHCOMP is set and /etc/csh.login lost its source line,
# so that setting QZLIB changes all four files.
prepare() {
    clean_machine
    qzp -s QZSHCOMP /opt/x
    sed -i '$d' /etc/csh.login
}

for SH in $SHELLS; do
    start_shell

    # A bind-mounted login file cannot be renamed over: it is written in place.
    prepare
    cp /etc/csh.login /opt/bound
    mount --bind /opt/bound /etc/csh.login
    expect_out "$SH: set beside a bind-mounted login file" "0:" qzp -s QZLIB /opt/x/lib
    expect_eq "$SH: its source line, in place" "$(tail -n 1 /opt/bound)" \
        'setenv QZ_SECTION vorn; if ( -r /etc/csh_login.QZ ) source /etc/csh_login.QZ; unsetenv QZ_SECTION # Added by Qorzel'
    expect_eq "$SH: shared files whole, mode 644" "$(tail -qn 1 /etc/csh_login.QZ; stat -c %a /etc/profile.QZ /etc/csh_login.QZ)" \
        "setenv QZLIB /opt/x/lib${NL}644${NL}644"
    umount /etc/csh.login

    # A read-only one cannot be changed at all: exit 8, every file as it was, nothing printed.
    prepare
    before=$(state)
    mount --bind /etc/csh.login /etc/csh.login
    mount -o remount,bind,ro /etc/csh.login
    expect_out "$SH: set beside a read-only login file" "8:" eval 'qzp -s QZLIB /opt/x/lib 2>&1'
    umount /etc/csh.login
    expect_eq "$SH: nothing changed" "$(state)" "$before"
    expect_eq "$SH: no scratch left" "$(ls /tmp)" "$TMP_BEFORE"

    # Only the tools the utility may rely on.
    prepare
    mkdir -p /opt/tools
    for t in sed grep egrep awk cut sort expr ls cp mv rm chmod cat mktemp id uname basename dirname "$SH"; do
        ln -sf "$(command -v "$t")" /opt/tools/
    done
    only_tools() { PATH=/opt/tools "$SH" "$QZP" "$@" 2>&1; }
    expect_out "$SH: set with the listed tools" "0:" only_tools -s QZLIB /opt/x/lib
    expect_out "$SH: query with them" "0:/opt/x/lib" only_tools -q QZLIB
    expect_out "$SH: repair with them" "0:" only_tools -F
    expect_out "$SH: delete with them" "0:" only_tools -d QZLIB QZSHCOMP
    expect_absent /etc/profile.QZ
done

# An open refused anywhere in a run (the Nth open of every process, after the
# four that start the shell and read the script) ends it with exit 8 and
# every file as it was, or it succeeds; either way a clean rerun gives what a
# clean run gives.
SH=dash
start_shell
prepare
mkdir -p /opt/start
cp -p $FILES /opt/start/
before=$(state)
qzp -s QZLIB /opt/x/lib
after=$(state)
for n in 5 7 9 12 16 21 27 34 42; do
    cp -p /opt/start/* /etc/
    rc=0
    out=$(strace -f -o /dev/null -e trace=openat -e inject=openat:error=EACCES:when=$n \
        "$SH" "$QZP" -s QZLIB /opt/x/lib 2>&1) || rc=$?
    case $rc:$(state) in
        "0:$after" | "8:$before") pass ;;
        *) fail "open $n refused: status $rc, files neither old nor new" ;;
    esac
    expect_eq "open $n refused: output" "$out" ""
    qzp -s QZLIB /opt/x/lib
    expect_eq "open $n refused: rerun" "$(state)" "$after"
done
# Exact moments, made by a tool that acts once, first, when its arguments
# match, and then becomes the real one: "stub TOOL PATTERN ACTION". A signal
# while the scratch directory is made or while it goes after a success; a
# backup copy that fails half-way.
mkdir -p /opt/stub
stub() {
    local real
    real=$(command -v "$1")
    # A stub that has fired is a link to the real tool: replace the link, never write through it.
    printf '#!/bin/sh\ncase "$*" in %s) ln -sf %s "$0"; %s ;; esac\nexec %s "$@"\n' "$2" "$real" "$3" "$real" >/opt/stub/new
    chmod 755 /opt/stub/new
    mv -f /opt/stub/new "/opt/stub/$1"
}
stubbed() { PATH="/opt/stub:$PATH" "$SH" "$QZP" "$@"; }
for SH in $SHELLS; do
    start_shell
    clean_machine
    stub rm '-rf*' 'kill -TERM $PPID'
    expect_out "$SH: set, signalled at its end" "0:" stubbed -s QZSHCOMP /opt/x
    expect_eq "$SH: the set stands" "$(qzp -q QZSHCOMP; ls /etc | grep -c -e QZ -e vornbackup)" "/opt/x${NL}4"
    prepare
    before=$(state)
    stub mktemp '-d*' 'kill -TERM $PPID'
    expect_status 130 "$SH: set, signalled at its start" stubbed -s QZLIB /opt/x/lib
    expect_eq "$SH: no scratch left, nothing changed" "$(ls /tmp; state)" "$TMP_BEFORE$NL$before"
    clean_machine
    stub cp '*.vornbackup*' 'printf x >"$3"; exit 1'
    expect_status 0 "$SH: set, a backup failing" stubbed -s QZSHCOMP /opt/x
    expect_eq "$SH: no partial backup counts" "$(ls /etc | grep -c '^profile\.vornbackup')" 0
    # Every login-file edit is backed up, here the removal of a source line.
    clean_machine
    QZPROFILE_BACKUP_PROFILES=0 qzp -s QZSHCOMP /opt/x
    cp -p /etc/profile /opt/before
    qzp -d QZSHCOMP
    check "$SH: backup before a delete" cmp -s /etc/profile.vornbackup /opt/before
done
finish
