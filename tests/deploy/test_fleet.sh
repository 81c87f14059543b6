#!/bin/bash
# A roll-out by the example fleet playbook to six hosts, each a private mount namespace with its own /opt, /etc,
# /tmp and /var/cache, which ansible reaches through a Python that enters it. A host's namespace lives as long as
# its holder reads the pipe this test keeps open, so no host outlives the test.
. "$TARVO_SRC/tests/e2e/lib.sh"
cd "$TARVO_SRC/deploy/ansible" || exit 1
export ANSIBLE_CONFIG=$PWD/ansible.cfg ANSIBLE_NOCOLOR=1 ANSIBLE_FORKS=6 PYTHONDONTWRITEBYTECODE=1
export ANSIBLE_HOME=$HOME/.ansible ANSIBLE_LOCAL_TEMP=$HOME/.ansible/tmp ANSIBLE_REMOTE_TMP=$HOME/.ansible/tmp
F=$HOME/fleet PLAY=$HOME/play HOSTS="canary web1 web2 db1 db2 db3" BAD=web2
declare -A PID
HELD=()  # the write ends of the hosts' pipes
mkdir -p "$F/release"
cp "$TARVO_BUILD/tests/tarvo_installer-5.2.3.bin" "$F/release/tarvo_installer-5.2.3.x86_64.bin"
cp "$KIT" "$F/release/tarvo_installer-5.2.4.x86_64.bin"
# The release's SHA256SUMS covers 5.2.4; the roll-out of 5.2.3 gives the kit's checksum in tarvo_kit_sha256.
(cd "$F/release" && sha256sum -- *5.2.4*.bin >SHA256SUMS)
# The same playbook where failing hosts may be half of a batch.
export ANSIBLE_ROLES_PATH=$PWD/roles
sed 's/^  max_fail_percentage: .*/  max_fail_percentage: 50/' fleet.yml >"$F/fleet50.yml"

trap 'for h in "${!PID[@]}"; do kill "${PID[$h]}" 2>/dev/null; done' EXIT
printf '[tarvo_hosts]\n' >"$F/hosts"
for h in $HOSTS; do
    mkfifo "$F/$h.in" "$F/$h.out" && mkdir "$F/$h.etc"
    # shellcheck disable=SC2016 # expanded by the holder
    unshare --mount --propagation private sh -c 'mount -t tmpfs -o mode=0755 host /opt &&
        mount -t tmpfs -o mode=1777 host /tmp && mount -t tmpfs -o mode=0755 host /var/cache &&
        mount -t tmpfs -o mode=0755 host "$1" && cp -a /etc/. "$1" && mount --bind "$1" /etc &&
        echo $$ && exec cat >/dev/null' holder "$F/$h.etc" <"$F/$h.in" >"$F/$h.out" &
    exec {fd}>"$F/$h.in" && HELD+=("$fd")
    read -r pid <"$F/$h.out" || { fail "host $h did not start"; finish; exit; }
    PID[$h]=$pid
    printf '#!/bin/sh\nexec nsenter --mount=/proc/%s/ns/mnt %s "$@"\n' "${PID[$h]}" "$(command -v python3)" >"$F/$h.py"
    chmod +x "$F/$h.py"
    printf '%s ansible_python_interpreter=%s\n' "$h" "$F/$h.py" >>"$F/hosts"
done
printf '[tarvo_hosts:vars]\nansible_connection=local\ntarvo_callers=[{"caller": "APP1", "env": "all"}]\n' >>"$F/hosts"
on() { local h=$1; shift; nsenter --mount="/proc/${PID[$h]}/ns/mnt" "$@"; }  # on HOST command...

# roll PLAYBOOK VERSION "what" "host:recap-field..." [options...]: a roll-out in batches of 1, 2 and 3.
roll() {
    local playbook=$1 version=$2 what=$3 want bad=; shift 3
    ansible-playbook -i "$F/hosts" -e ansible_become=false -e '{"tarvo_batches": [1, 2, 3]}' \
        -e "tarvo_kit=$F/release/tarvo_installer-$version.x86_64.bin" "${@:2}" "$playbook" >"$PLAY" 2>&1
    tr -s '\n ' '  ' <"$PLAY" >"$PLAY.flat"
    for want in $1; do
        grep -o "^${want%%:*} *: .*" "$PLAY" | grep -qw "${want#*:}" || bad="$bad ${want%%:*} ${want#*:},"
    done
    check "$what, not:$bad"$'\n'"$(cat "$PLAY")" test -z "$bad"
}
# expect_db_on "HOST..." LINE... : the registry of each host.
expect_db_on() {
    local h hosts=$1; shift
    for h in $hosts; do check "$h: registry $*" test "$(on "$h" cat "$R/.installdb")" = "$(printf '%s\n' "$@")"; done
}
GOOD="canary web1 db1 db2 db3"

roll fleet.yml 5.2.3 "roll-out" "$(for h in $HOSTS; do echo "$h:changed=1 $h:failed=0"; done)" \
    -e "tarvo_kit_sha256=$(sha256sum <"$F/release/tarvo_installer-5.2.3.x86_64.bin" | cut -c1-64)"
expect_db_on "$HOSTS" "CurrentVersion 5.2.3" "APP1 5.2.3"
check "each host has its own /opt" test "$(find /opt -mindepth 1)" = ""

# web2's /opt turns read-only: in the second batch, it fails with the installer's message. Failing hosts may not
# pass 10 % of a batch, so the play stops before the third batch; at 50 % it goes on.
on $BAD mount -o remount,ro /opt
roll fleet.yml 5.2.4 "upgrade that stops" "canary:changed=1 web1:changed=1 web2:failed=1"
expect_db_on "canary web1" "CurrentVersion 5.2.4" "APP1 5.2.4"
expect_db_on "web2 db1 db2 db3" "CurrentVersion 5.2.3" "APP1 5.2.3"
expect_lacks "$PLAY" db1 db2 db3
expect_contains "$PLAY.flat" "TARVO install for caller APP1 failed: the kit $F/release/tarvo_installer-5.2.4.x86_64.bin, run as /var/cache/tarvo/APP1/tarvo_installer.bin, exited with status 3." \
    "[TARVO] Check Permissions and relaunch installer"
roll "$F/fleet50.yml" 5.2.4 "upgrade that goes on" \
    "canary:changed=0 web1:changed=0 web2:failed=1 db1:changed=1 db2:changed=1 db3:changed=1"
expect_db_on "$GOOD" "CurrentVersion 5.2.4" "APP1 5.2.4"
roll "$F/fleet50.yml" 5.2.4 "second run" "$(for h in $GOOD; do echo "$h:changed=0 $h:failed=0"; done) web2:failed=1"

roll "$F/fleet50.yml" 5.2.4 "removal" "$(for h in $GOOD; do echo "$h:changed=1 $h:failed=0"; done) web2:failed=1" \
    -e '{"tarvo_callers": [{"caller": "APP1", "state": "absent", "env": "all"}]}'
leftovers() { on "$1" sh -c 'find /opt /var/cache -mindepth 1 ! -path /var/cache/tarvo; ls /etc/profile.QZ 2>/dev/null'; }
for h in $GOOD; do got=$(leftovers "$h"); check "$h still holds: $got" test -z "$got"; done
expect_db_on $BAD "CurrentVersion 5.2.3" "APP1 5.2.3"
finish
