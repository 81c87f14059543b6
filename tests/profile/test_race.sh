# An unprivileged user plants symbolic links in /tmp while root sets and deletes
# variables: a root-only file must stay as it was, and other users' files in /tmp
# must survive the utility's clean-up.
. "$TARVO_SRC/tests/profile/lib.sh"

clean_machine
# Small file systems, so that a run writing without end cannot eat the machine's memory.
mount -t tmpfs -o size=8m,mode=1777 race-tmp /tmp
mount -t tmpfs -o size=8m,mode=755 race-opt /opt
secret=/opt/shadow.copy
cp /etc/shadow "$secret"
chmod 600 "$secret"
cp -p "$secret" /opt/shadow.orig
for f in /tmp/profile1.keep /tmp/pr_line.keep; do
    setpriv --reuid=65534 --regid=65534 --clear-groups sh -c "echo mine >$f"
done

# The attacker links every name that leaves /tmp back to the secret, and when a
# run token appears, every scratch name that the token and the process number of
# any running shell make.
attacker='
import os, re, sys
target, stop = sys.argv[1], sys.argv[2]
scratch = ("profile1 profile2 profile_found profile_final profile.tmp csh_login.tmp mod_file2del var_ifln_file "
           "filn_file ifln_file qzi_mod qz_tmp_file setting_sh rvalue pub_file priv_file pr_line").split()
def plant(path):
    try:
        os.symlink(target, path)
        return 1
    except OSError:
        return 0
def shells():
    # Reading /proc/N/stat never waits on the process, unlike its cmdline.
    for p in os.listdir("/proc"):
        try:
            if p.isdigit() and open("/proc/%s/stat" % p, "rb").read().split(b" ")[1] in (b"(dash)", b"(bash)"):
                yield p
        except (OSError, IndexError):
            pass
seen, planted = set(os.listdir("/tmp")), 0
others = set(seen)
while not os.path.exists(stop):
    now = set(os.listdir("/tmp"))
    for name in now - seen:
        for pid in (shells() if re.match(r"prof_[A-Za-z0-9]{10}$", name) else ()):
            planted += sum(plant("/tmp/%s.%s.%s" % (s, name, pid)) for s in scratch)
    planted += sum(plant("/tmp/" + name) for name in seen - now - others)
    seen |= now
print(planted)
'
stop=/opt/race_stop
timeout -s KILL 120 setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/python3 -c "$attacker" "$secret" "$stop" >/opt/planted &
spy=$!
sleep 0.5
# A run that the attack makes hang is killed; the whole attack is bounded too.
for i in 1 2 3 4; do
    for SH in $SHELLS; do
        [ "$SECONDS" -lt 60 ] || break 2
        start_shell
        timeout -s KILL 10 "$SH" "$QZP" -s QZSHCOMP "/opt/x$i"
        timeout -s KILL 10 "$SH" "$QZP" -s QZLIB "/opt/x$i/lib"
        timeout -s KILL 10 "$SH" "$QZP" -s QZT_A "a $i" -section S1
        timeout -s KILL 10 "$SH" "$QZP" -d QZT_A QZLIB
        timeout -s KILL 10 "$SH" "$QZP" -F
        timeout -s KILL 10 "$SH" "$QZP" -d QZSHCOMP
    done
done >/dev/null 2>&1
: >"$stop"
wait "$spy"
echo "the attacker planted $(cat /opt/planted) links"
check "the attacker planted links" test "$(cat /opt/planted)" -gt 0
check "the root-only file is unchanged" cmp -s "$secret" /opt/shadow.orig
expect_eq "its mode" "$(stat -c %a "$secret")" 600
expect_eq "other users' files kept" "$(cat /tmp/profile1.keep /tmp/pr_line.keep 2>&1)" "mine${NL}mine"
finish
