#!/bin/bash
# The Ansible role by the example playbook on this sandbox; few runs, each doing much: ansible starts slowly.
. "$TARVO_SRC/tests/e2e/lib.sh"
cd "$TARVO_SRC/deploy/ansible" || exit 1
export ANSIBLE_CONFIG=$PWD/ansible.cfg ANSIBLE_NOCOLOR=1
# Ansible would take the remote temporaries below root's real home (~root), not $HOME.
export ANSIBLE_HOME=$HOME/.ansible ANSIBLE_LOCAL_TEMP=$HOME/.ansible/tmp ANSIBLE_REMOTE_TMP=$HOME/.ansible/tmp
CACHE=$HOME/kits PLAY=/tmp/.t_play
# play "what" CALLERS-JSON changed=N failed=N [ansible-playbook options...] : the recap must say so.
play() {
    local what=$1 callers=$2 want; shift 2
    ansible-playbook -c local -i localhost, -e ansible_become=false -e tarvo_hosts=localhost -e "tarvo_kit_cache=$CACHE" \
        -e "tarvo_kit=$KIT" -e "{\"tarvo_callers\": $callers}" "${@:3}" site.yml >"$PLAY" 2>&1
    for want in "$1" "$2"; do check "$what: $want"$'\n'"$(cat "$PLAY")" test "$(grep -o "${want%=*}=[0-9]*" "$PLAY" | tail -1)" = "$want"; done
}
BOTH='[{"caller": "APP1", "env": "all"}, {"caller": "my app(2)"}]'

play "first run" "$BOTH" changed=2 failed=0
expect_db "CurrentVersion 5.2.4" "APP1 5.2.4" "my app(2) 5.2.4"
check "QZSHCOMP published to every user" test "$(login_vars bash)" = "$VALUES"
play "second run" "$BOTH" changed=0 failed=0
expect_contains "$PLAY" "nothing to do for caller APP1." "nothing to do for caller my app(2)."

before=$(tree_state /opt; cat /etc/profile.QZ $LOG)
play "check mode" '[{"caller": "APP1", "state": "absent", "env": "all"}, {"caller": "NEW"}]' changed=2 failed=0 --check
expect_contains "$PLAY" "would run remove for caller APP1 because caller APP1 is registered"
check "check mode changes nothing" test "$before" = "$(tree_state /opt; cat /etc/profile.QZ $LOG)"

# One leaves by the installed uninstaller, the last withdraws the variables; a kit without payload fails.
play "removal and a failing kit" "[{\"caller\": \"my app(2)\", \"state\": \"absent\", \"kit\": \"\"},
    {\"caller\": \"APP1\", \"state\": \"forceabsent\", \"env\": \"all\"}, {\"caller\": \"BROKEN\", \"kit\": \"$TARVO_BUILD/tarvo_setup\"}]" \
    changed=2 failed=1
expect_absent "$DEFAULT_DIR" /etc/profile.QZ "$CACHE/$(printf APP1 | sha1sum | cut -c1-40)"
expect_contains "$PLAY" "exited with status 3. The end of /tmp/tarvo_install.log:" "- Install unsuccessful, return value is 3"
finish
