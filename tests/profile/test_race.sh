# An unprivileged user plants symbolic links in /tmp while root sets and deletes variables: a root-only
# file must stay as it was, and other users' files in /tmp must survive the utility's clean-up.
. "$TARVO_SRC/tests/profile/lib.sh"

clean_machine
# Small file systems, so that a run writing without end cannot eat the machine's memory.
mount -t tmpfs -o size=8m,mode=1777 race-tmp /tmp
mount -t tmpfs -o size=8m,mode=755 race-opt /opt
secret=/opt/shadow.copy
install -m 600 /etc/shadow "$secret"
cp -p "$secret" /opt/shadow.orig
for f in /tmp/profile1.keep /tmp/pr_line.keep; do
    setpriv --reuid=65534 --regid=65534 --clear-groups sh -c "echo mine >$f"
done
# The attacker links every name that leaves /tmp back to the secret, and when a run token appears,
# every scratch name that the token and the process number of any running shell make.
attacker='
import os, re, sys
target, stop = sys.argv[1], sys.argv[2]
scratch = ("profile1 profile2 profile_found profile_final profile.tmp csh_login.tmp mod_file2del var_ifln_file "
           "filn_file ifln_file qzi_mod qz_tmp_file setting_sh rvalue pub_file priv_file pr_line").split()
def plant(path):
    try:
        return os.symlink(target, path) or 1
    except OSError:
        return 0
def shells():  # reading /proc/N/stat never waits on the process, unlike its cmdline
    for p in filter(str.isdigit, os.listdir("/proc")):
        try:
            if open("/proc/%s/stat" % p, "rb").read().split(b" ")[1] in (b"(dash)", b"(bash)"):
                yield p
        except (OSError, IndexError):
            pass
seen = others = set(os.listdir("/tmp"))
planted = 0
while not os.path.exists(stop):
    now = set(os.listdir("/tmp"))
    for name in now - seen:
        for pid in (shells() if re.match(r"prof_[A-Za-z0-9]{10}$", name) else ()):
            planted += sum(plant("/tmp/%s.%s.%s" % (s, name, pid)) for s in scratch)
    planted += sum(plant("/tmp/" + name) for name in seen - now - others)
    seen = seen | now
print(planted)
'
timeout -s KILL 120 setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/python3 -c "$attacker" "$secret" /opt/stop >/opt/planted &
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
expect_eq "the root-only file and its mode, other users' files" "$(cmp "$secret" /opt/shadow.orig; stat -c %a "$secret"; cat /tmp/*.keep 2>&1)" "600${NL}mine${NL}mine"
finish
