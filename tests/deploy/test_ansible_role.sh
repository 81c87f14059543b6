#!/bin/bash
# The Ansible role by the example playbook on this sandbox; few runs, each doing much: ansible starts slowly.
# Hosts other than localhost are names for the same sandbox, so that each run can fail in several ways at once.
. "$TARVO_SRC/tests/e2e/lib.sh"
cd "$TARVO_SRC/deploy/ansible" || exit 1
export ANSIBLE_CONFIG=$PWD/ansible.cfg ANSIBLE_NOCOLOR=1 ANSIBLE_FORKS=8 PYTHONDONTWRITEBYTECODE=1
# Ansible would take the remote temporaries below root's real home (~root), not $HOME.
export ANSIBLE_HOME=$HOME/.ansible ANSIBLE_LOCAL_TEMP=$HOME/.ansible/tmp ANSIBLE_REMOTE_TMP=$HOME/.ansible/tmp
CACHE=$HOME/kits PLAY=/tmp/.t_play REL=$HOME/release
mkdir -p "$REL" && cp "$TARVO_BUILD/tarvo_setup" "$REL/"
for k in tarvo_installer tampered; do cp "$KIT" "$REL/$k.bin"; done
(cd "$REL" && sha256sum -- * >SHA256SUMS) && truncate -s -100 "$REL/tampered.bin"
# play "what" INVENTORY-LINES "host:changed=N host:failed=N..." [ansible-playbook options...]: the recap must say so.
play() {
    local what=$1 want bad=; shift
    printf '[tarvo_hosts]\n%s\n[tarvo_hosts:vars]\nansible_connection=local\nansible_python_interpreter=%s\n' \
        "$1" "$(command -v python3)" >/tmp/.t_hosts
    ansible-playbook -i /tmp/.t_hosts -e ansible_become=false -e "tarvo_kit_cache=$CACHE" \
        -e "tarvo_kit=$REL/tarvo_installer.bin" "${@:3}" site.yml >"$PLAY" 2>&1
    tr -s '\n ' '  ' <"$PLAY" >"$PLAY.flat"  # as one line, whatever the width of the output
    for want in $2; do
        grep -o "^${want%%:*} *: .*" "$PLAY" | grep -qw "${want#*:}" || bad="$bad ${want%%:*} ${want#*:},"
    done
    check "$what, not:$bad"$'\n'"$(cat "$PLAY")" test -z "$bad"
}
# host NAME ITEM... : an inventory line, the host's callers given as JSON objects.
host() { local name=$1 IFS=,; shift; printf "%s tarvo_callers='[%s]'\n" "$name" "$*"; }
APP1='{"caller": "APP1", "env": "all"}' MINE='{"caller": "my app(2)"}'
BOTH=$(host localhost "$APP1" "$MINE")

# The defaults that ansible-doc shows are the role's defaults.
python3 - roles/tarvo <<'EOF' || fail "argument_specs and defaults disagree"
import sys, yaml
role = sys.argv[1]
defaults = yaml.safe_load(open(role + "/defaults/main.yml"))
options = yaml.safe_load(open(role + "/meta/argument_specs.yml"))["argument_specs"]["main"]["options"]
shown = {name: option["default"] for name, option in options.items() if "default" in option}
sys.exit(0 if shown == defaults and set(options) == set(defaults) | {"tarvo_caller"} else "%s\n%s" % (shown, defaults))
EOF

play "first run" "$BOTH" "localhost:changed=2 localhost:failed=0"
expect_db "CurrentVersion 5.2.4" "APP1 5.2.4" "my app(2) 5.2.4"
check "QZSHCOMP published to every user" test "$(login_vars bash)" = "$VALUES"
expect_present "$CACHE/APP1/tarvo_installer.bin" "$CACHE/my_app_2_.$(printf 'my app(2)' | sha1sum | cut -c1-8)/tarvo_installer.bin"

# Run again, in check mode: the same callers need nothing; another "host" (this sandbox too) would change two.
before=$(tree_state /opt; cat /etc/profile.QZ $LOG)
play "second run, in check mode" "$BOTH
$(host planned '{"caller": "APP1", "state": "absent", "env": "all"}' '{"caller": "NEW"}')" \
    "localhost:changed=0 localhost:failed=0 planned:changed=2 planned:failed=0" --check --diff
expect_contains "$PLAY.flat" "nothing to do for caller APP1." "nothing to do for caller my app(2)." \
    "would run remove for caller APP1 because caller APP1 is registered" \
    "would run install for caller NEW because caller NEW is not registered" \
    "+++ after: TARVO registry (predicted: nothing ran in check mode)" "-APP1 5.2.4" "+NEW 5.2.4"
check "check mode changes nothing" test "$before" = "$(tree_state /opt; cat /etc/profile.QZ $LOG)"

# One leaves by the installed uninstaller, the last withdraws the variables, showing the change, and a kit
# without payload fails; other "hosts" bring a truncated kit and a caller the installer refuses.
play "removal and failures" "$(host localhost '{"caller": "my app(2)", "state": "absent", "kit": ""}' \
    '{"caller": "APP1", "state": "forceabsent", "env": "all"}' "{\"caller\": \"BROKEN\", \"kit\": \"$REL/tarvo_setup\"}"
    host tampered "{\"caller\": \"TAMPERED\", \"kit\": \"$REL/tampered.bin\"}"; host refused '{"caller": "A/B"}')" \
    "localhost:changed=2 localhost:failed=1 tampered:failed=1 refused:failed=1" --diff
expect_absent "$DEFAULT_DIR" /etc/profile.QZ
check "kept are the failed kit and the one check mode needed: $(ls "$CACHE")" test "$(ls "$CACHE")" = $'BROKEN\nNEW'
expect_contains "$PLAY.flat" "-my app(2) 5.2.4" "-env.all.QZSHCOMP.set=1" "+published for env=all: no" "+(not installed)" \
    "failed: the kit $REL/tarvo_setup, run as $CACHE/BROKEN/tarvo_installer.bin, exited with status 3. Its output ends:" "[TARVO] Install unsuccessful, return value is 3" \
    "TARVO for caller \"TAMPERED\": the kit $REL/tampered.bin does not match its published checksum: its SHA-256 is $(sha256sum <"$REL/tampered.bin" | cut -c1-64), $REL/SHA256SUMS says" \
    'TARVO for caller "A/B": tarvo_caller "A/B" is not a caller the installer accepts' "Nothing was copied or run."

# On the host, the role runs no uninstaller that anyone but root could have put there, and no kit but the checked one.
on_host() { sh -c "$(cat roles/tarvo/files/tarvo_on_host.sh)" tarvo "$@"; }
mkdir -p /tmp/planted/Linux/ppc64/64 "$DEFAULT_DIR" && printf '#!/bin/sh\ntouch /tmp/ran\n' >/tmp/planted/uninstaller
chmod 0755 /tmp/planted/uninstaller && cp /tmp/planted/uninstaller /tmp/planted/Linux/ppc64/64/
ln -s /tmp/planted "$DEFAULT_DIR/TARVO5"
expect_status 4 "a link below the install directory" on_host state "$R/uninstaller" "" "$DEFAULT_DIR" env=none
rm "$DEFAULT_DIR/TARVO5" && mkdir -p "$R" && cp /tmp/planted/uninstaller "$R/"
for how in "chown 65534 $R" "chmod 0775 $DEFAULT_DIR/TARVO5/Linux" "chown 65534 $R/uninstaller"; do
    $how && expect_status 4 "$how" on_host state "$R/uninstaller" "" "$DEFAULT_DIR" env=none
    chown -R 0 "$DEFAULT_DIR" && chmod -R go-w "$DEFAULT_DIR"
done
expect_status 4 "a kit that is not the checked one" on_host run /tmp/planted/uninstaller "$(printf %064d 0)" "" install A env=none
expect_absent /tmp/ran
expect_status 0 "root's own uninstaller" on_host state "$R/uninstaller" "" "$DEFAULT_DIR" env=none
expect_present /tmp/ran
finish
