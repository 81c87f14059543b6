# An unprivileged user plants symbolic links in /tmp while root sets and deletes variables: a root-only
# file must stay as it was, and other users' files in /tmp must survive the utility's clean-up.
. "$TARVO_SRC/tests/profile/lib.sh"

clean_machine
# Small file systems, so that a run writing without end cannot eat the machine's memory.
mount -t tmpfs -o size=8m,mode=1777 race-tmp /tmp
mount -t tmpfs -o size=8m,mode=755 race-opt /opt
install -m 600 /etc/shadow /opt/secret
cp -p /opt/secret /opt/secret.orig
for f in /tmp/profile1.keep /tmp/pr_line.keep; do
    setpriv --reuid=65534 --regid=65534 --clear-groups sh -c "echo mine >$f"
done
# The attacker links every name that leaves /tmp, and every name inside a directory that appears there, back to the secret.
attacker='
import os, sys
seen = others = set(os.listdir("/tmp"))
planted = 0
while not os.path.exists("/opt/stop"):
    now = set(os.listdir("/tmp"))
    for name in ["/tmp/" + n for n in seen - now - others] + ["/tmp/%s/%s" % (d, n) for d in now - others for n in ("edit", "old.1", "new")]:
        try:
            planted += os.symlink("/opt/secret", name) or 1
        except OSError:
            pass
    seen = seen | now
print(planted)
'
timeout -s KILL 120 setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/python3 -c "$attacker" >/opt/planted &
spy=$!
sleep 0.5
# A run that the attack makes hang is killed; the whole attack is bounded too.
for i in 1 2 3 4; do
    for SH in $SHELLS; do
        [ "$SECONDS" -lt 60 ] || break 2
        start_shell
        for args in "-s QZSHCOMP /opt/x$i" "-s QZLIB /opt/x$i/lib" "-s QZT_A a$i -section S1" "-d QZT_A QZLIB" -F "-d QZSHCOMP"; do
            # shellcheck disable=SC2086 # a word list
            timeout -s KILL 10 "$SH" "$QZP" $args
        done
    done
done >/dev/null 2>&1
: >/opt/stop
wait "$spy"
echo "the attacker planted $(cat /opt/planted) links"
check "the attacker planted links" test "$(cat /opt/planted)" -gt 0
expect_eq "the root-only file and its mode, other users' files" "$(cmp /opt/secret /opt/secret.orig; stat -c %a /opt/secret; cat /tmp/*.keep 2>&1)" "600${NL}mine${NL}mine"
finish
