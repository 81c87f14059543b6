#!/bin/bash
# The command line, console and log routing, discovery reports and the single-instance lock.
. "$(dirname "$0")/lib.sh"
USAGE="Usage: tarvo_installer.bin <install|remove> caller=<CallerID> [options...]"
UNINSTALLER=$TARVO_BUILD/uninstaller

# A private /dev/log: a tmpfs over /dev with the nodes the programs use, and a listener that keeps the
# queue empty and hands over, when asked, every record sent so far (syslog returns once it is queued).
mkdir /tmp/.t_dev && mount -t tmpfs -o mode=0755 t-dev /tmp/.t_dev
for n in null zero full random urandom tty; do touch /tmp/.t_dev/$n && mount --bind /dev/$n /tmp/.t_dev/$n; done
ln -s /proc/self/fd /tmp/.t_dev/fd && mount --move /tmp/.t_dev /dev
coproc LISTENER { /usr/bin/python3 -uc '
import os, select, socket, sys
s = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM); s.bind("/dev/log"); os.chmod("/dev/log", 0o666)
got = []
print("ready")
while True:  # the queue first, so that an answer holds everything sent before the question
    if s in select.select([s, sys.stdin], [], [])[0]: got.append(s.recv(65536).decode("utf-8", "replace").replace("\n", " "))
    elif not sys.stdin.readline(): break
    else: print("".join(line + "\n" for line in got) + "end"); got = []
'; }
exec 7>&"${LISTENER[1]}" 8<&"${LISTENER[0]}"  # for subshells too
read -r _ <&8
records() { local line; echo >&7; while read -r line <&8 && [ "$line" != end ]; do echo "$line"; done; }
# expect_records LINE... : the records since the last look, as priority and message.
expect_records() {
    local got want
    got=$(records | sed 's/^<\([0-9]*\)>.* tarvo_installer\[[0-9]*\]: /\1 /') want=$(printf '%s\n' "$@")
    if [ "$got" = "$want" ]; then pass; else fail "records:"$'\n'"$got"$'\n'"expected:"$'\n'"$want"; fi
}

kit_fails
expect_file "$OUT" "[TARVO]  Number of arguments are not sufficient "$'\n'
expect_file "$ERR" ""
expect_contains $LOG "$USAGE"
expect_lacks $LOG "unsuccessful"

# Rejections: the message and the usage text reach the log, the console stays quiet.
while IFS='|' read -r msg args; do
    eval "run_kit \"\$KIT\" $args"
    expect_rc 3 "$args"
    expect_contains $LOG "$msg" "                      discover must be the last option if used."
    check "quiet rejection of $args prints nothing" test ! -s "$OUT" -a ! -s "$ERR"
done <<'EOF_REJECT'
Discover must be the last option |discover install caller=app
Caller should not start or end with space|install "caller= app"
Caller contains non supported characters |install caller=app!
Parameter expected for caller|install callerX
Parameter expected for instdir|install caller=app instdir=
Invalid parameter for env|install caller=app env=USER
Environment variable setting mode may be specified only once|install caller=app env=none env=user
Unexpected command-line parameter: Verbose|install caller=app Verbose
Installation mode not specified|caller=app
CallerID not specified|install
EOF_REJECT
expect_contains $LOG "Install unsuccessful, return value is 3"
kit_fails verbose remove caller=app remove
expect_contains "$ERR" "[TARVO] Installation mode may be specified only once" "[TARVO] $USAGE" "[TARVO] Remove unsuccessful, return value is 3"

# --version, --help and -h, each the only word: the console only, no lock, no log, no record.
rm -f $LOG; records >/dev/null
while read -r prog modes; do
    expect_run 0 "$prog" --version
    check "$prog --version: $(cat $OUT)" grep -qxE 'TARVO (installer|uninstaller) 5\.2\.4 \(build [^ ]+\)' $OUT
    for word in --help -h; do
        expect_run 0 "$prog" $word
        check "$prog $word" test "$(head -1 $OUT)" = "Usage: ${prog##*/} $modes caller=<CallerID> [options...]" -a ! -s $ERR
        expect_contains $OUT "                      discover must be the last option if used." "--version"
    done
done <<<"$KIT <install|remove>
$UNINSTALLER <remove|forceremove>"
expect_records
expect_absent $LOCK $LOG
kit_fails --version verbose
expect_contains $ERR "[TARVO] Unexpected command-line parameter: --version"
expect_records "83 mode=unknown caller=\"\" instdir=none before=unknown after=unknown kit=5.2.4 program=installer result=failure status=3 uid=0"

# install ... discover: the report, then a quiet install.
kit_ok install caller=APP1 env=all discover
expect_file "$OUT" $'[TARVO] Unable to discover TARVO installation \n'
T=" kit=5.2.4 program=installer result=success status=0 uid=0"
expect_records "85 mode=install caller=\"APP1\" instdir=\"$DEFAULT_DIR\" before=none after=\"5.2.4\"$T"
# A verbose install: console and log carry the same lines.
kit_ok install caller=APP2 env=all verbose
expect_contains "$OUT" "[TARVO] Parameters: mode=install, caller=APP2, instdir=, env=all, verbose=true" \
    "[TARVO] This installer contains TARVO Version 5.2.4" "[TARVO] TARVO Install Successful, return Value is 0"
check "log equals console without prefixes" test "$(sed 's/^\[TARVO\] //' "$OUT")" = "$(cat $LOG)"
# The global installation, from the shared profile files.
kit_ok discover
expect_file "$OUT" "[TARVO] -----------Starting Discovery-----------

[TARVO] Found global installation of TARVO in /opt/QZ/SharedComponents/TARVO.
[TARVO] Found & Opened .installdb
[TARVO] CurrentVersion 5.2.4 
[TARVO] Existing installations will be displayed as
[TARVO] caller Installed Version
[TARVO] APP1 5.2.4 
[TARVO] APP2 5.2.4 
[TARVO] -----------Discovery Complete-----------

"
expect_no_leftovers

# discover=json: the same answer for programs, and not one file created or changed on the way (the
# listing catches what stays, strace what would only pass; /dev/null is the utility's own redirection).
J='{"kit_version":"5.2.4","install_dir":"/opt/QZ/SharedComponents/TARVO","rule":"QZSHCOMP","installed":true,'
J+='"version":"5.2.4","dependants":[{"caller":"APP1","version":"5.2.4"},{"caller":"APP2","version":"5.2.4"}],'
J+='"files":7,"missing_files":0,"environment":{"env.all.QZSHCOMP.set":"1","env.all.QZLIB.set":"1",'
J+='"env.all.QZBIN.set":"1"},"env_published":'
TRACE=/tmp/.t_trace
snapshot() { find /tmp /opt /etc "$HOME" ! -name '.t_*' -printf '%p %y %m %s %T@\n' | sort; }
: >$TRACE; run_kit true; before=$(snapshot)
run_kit env $UNDER_STRACE strace -f -qq -e signal=none -o $TRACE -e trace=open,openat,creat,mkdir,mkdirat,unlink,\
unlinkat,rename,renameat,renameat2,link,linkat,symlink,symlinkat,chmod,fchmod,fchmodat,chown,fchown,fchownat,\
truncate,ftruncate,mknod,mknodat,utimensat $RUN "$KIT" env=all discover=json
expect_rc 0 "discover=json under strace"
expect_file "$OUT" "${J}true}"$'\n'
check "discover=json wrote: $(grep -v -e O_RDONLY -e '"/dev/null"' $TRACE)" test -z "$(grep -v -e O_RDONLY -e '"/dev/null"' $TRACE)"
check "discover=json changed the trees" test "$before" = "$(snapshot)"
# The other rules; env=user looks at the environment only, and at $HOME/.profile for the setting.
while IFS='|' read -r env args want; do
    eval "env $env $RUN \"\$KIT\" $args discover=json" >$OUT
    check "discover=json with [$env $args]: $(cat $OUT)" grep -qF "$want" $OUT
done <<'EOF_RULES'
QZLIB=lib|env=user|"install_dir":null,"rule":"QZLIB","installed":false,"version":null,"dependants":[],"files":0,
QZSHCOMP=|env=user|"install_dir":null,"rule":"QZSHCOMP"
QZLIB=/srv/lib|env=user instdir=/x|"install_dir":"/srv/TARVO","rule":"QZLIB"
-u QZSHCOMP|env=user instdir=/x/|"install_dir":"/x/TARVO","rule":"instdir"
-u QZSHCOMP|env=user|"install_dir":"/opt/QZ/SharedComponents/TARVO","rule":"default","installed":true
-u QZSHCOMP|env=user|"env_published":false}
-u QZSHCOMP|env=none|"env_published":true}
EOF_RULES
echo 'QZSHCOMP="/opt/QZ/SharedComponents"; export QZSHCOMP' >"$HOME/.profile"
run_kit "$KIT" env=user discover=json
expect_contains "$OUT" '"env_published":true}'
# Escaping, odd registry lines and files that are not there (a link counts as missing).
O=/tmp/json/TARVO/TARVO5/Linux/ppc64/64
mkdir -p $O/lib && : >$O/lib/a && ln -s a $O/lib/b
printf 'CurrentVersion 5.2.4\n  q"b\\s\x01\xc3\xa9\xff\xed\xa0\x80 5.2.3  \nsolo\n\n' >$O/.installdb
printf 'TARVO5/Linux/ppc64/64/lib/a\nTARVO5/Linux/ppc64/64/lib/b\nlib/../x\n\n*#*#*#*#*#-Environment\nk=v=w\nk=2\n' >$O/files.dat
QZSHCOMP=/tmp/json run_kit "$KIT" env=user discover=json
expect_contains "$OUT" '"dependants":[{"caller":"q\"b\\s\u0001é\u00FF\u00ED\u00A0\u0080","version":"5.2.3"},{"caller":"solo","version":""}],"files":3,"missing_files":2,"environment":{"k":"v=w"},'
expect_run 0 "$UNINSTALLER" instdir=/tmp/json discover=json
expect_contains $OUT '{"kit_version":"5.2.4","install_dir":"/opt/QZ/SharedComponents/TARVO","rule":"QZSHCOMP"'
# Only instdir= and env= before it, each once; anything else is refused with the usage text on standard error.
for args in "install" "verbose" "instdir=/a instdir=/b" "env=all env=all" "env=bad" "instdir=" "caller=x"; do
    expect_run 3 "$KIT" $args discover=json
    check "refused [$args] on standard error only" test ! -s $OUT -a "$(grep -c '^\[TARVO\] ' $ERR)" = 18
done
# Every run that holds the lock leaves one record (authpriv, notice or err): who ran which kit, with what effect.
records >/dev/null
SUDO_USER='al ice"' kit_ok install caller=APP3
kit_ok discover
run_kit env -u SUDO_USER setpriv --reuid=65534 --regid=65534 --clear-groups $RUN "$KIT" remove caller=APP3
run_kit "$UNINSTALLER" remove caller=$'a\nb'
V="instdir=\"$DEFAULT_DIR\" before=\"5.2.4\" after=\"5.2.4\" kit=5.2.4"
expect_records "85 mode=install caller=\"APP3\" $V program=installer result=success status=0 uid=0 sudo_user=\"al ice\\\"\"" \
    "85 mode=discover caller=\"\" instdir=none before=unknown after=unknown$T" \
    "83 mode=remove caller=\"APP3\" $V program=installer result=failure status=3 uid=65534" \
    "83 mode=remove caller=\"a\\x0Ab\" instdir=none before=unknown after=unknown kit=5.2.4 program=uninstaller result=failure status=3 uid=0"

# Under one pipe, progress and errors keep the order of the log.
$RUN "$KIT" remove caller=NOPE verbose 2>&1 | cat >$OUT
expect_contains $OUT "[TARVO] Removal requested by NOPE which is not in dependency list."
check "order under a pipe" test "$(sed 's/^\[TARVO\] //' $OUT)" = "$(cat $LOG)"

# A non-global one, from the process environment: an empty line ends the list; one line, no header.
O=/tmp/other/TARVO/TARVO5/Linux/ppc64/64
mkdir -p $O && rm /etc/profile.QZ
printf 'CurrentVersion 5.2.4\nX1 5.2.4\n\nX2 5.2.4\n' > $O/.installdb
QZSHCOMP=/tmp/other kit_ok discover
expect_contains "$OUT" "[TARVO] Found non-global installation of TARVO in /tmp/other/TARVO." "[TARVO] X1 5.2.4 "
expect_lacks "$OUT" "X2"
printf 'CurrentVersion 5.2.4\n' > $O/.installdb
QZSHCOMP=/tmp/other kit_ok discover
expect_contains "$OUT" "[TARVO] CurrentVersion 5.2.4 "
expect_lacks "$OUT" "caller Installed Version"

# A second process while a live one holds the lock: status 3 after about three seconds, lock and log kept;
# the lock of a dead process is taken over at once.
timed() { local t0; t0=$(date +%s%N); "$@"; MS=$((($(date +%s%N) - t0) / 1000000)); }
sleep 60 & holder=$!
hold_lock "$holder"
records >/dev/null
echo "running run's log" > $LOG
timed kit_fails install caller=APP2 verbose
check "refused after about three seconds ($MS ms)" test "$MS" -ge 2900 -a "$MS" -lt 6000
expect_present $LOCK
expect_contains $LOG "running run's log" "This installer application is already running in another process." "Lock file: $LOCK"
timed kit_ok env=all discover=json
check "discover=json waits for no lock ($MS ms)" test "$MS" -lt 1500
expect_records
kill "$holder"; wait "$holder" 2>/dev/null
timed kit_ok install caller=APP2
check "no wait for a stale lock ($MS ms)" test "$MS" -lt 1500
expect_no_leftovers
finish
