#!/bin/bash
# The Ansible role, run by the example playbook against this (sandboxed) machine:
# install for two callers, the same play again, check mode, removal by both, and
# a failing kit. Few playbook runs, each doing several things: ansible is slow to start.
. "$TARVO_SRC/tests/e2e/lib.sh"
cd "$TARVO_SRC/deploy/ansible" || exit 1
export ANSIBLE_CONFIG=$PWD/ansible.cfg ANSIBLE_NOCOLOR=1
# Ansible would take the remote temporaries below root's real home (~root), not $HOME.
export ANSIBLE_HOME=$HOME/.ansible ANSIBLE_LOCAL_TEMP=$HOME/.ansible/tmp ANSIBLE_REMOTE_TMP=$HOME/.ansible/tmp
CACHE=$HOME/kits
RUN=/tmp/.t_play
# play CALLERS-JSON [ansible-playbook options...] : runs the playbook, output in $RUN; the recap tells the outcome.
play() {
    local callers=$1; shift
    ansible-playbook -c local -i localhost, -e ansible_become=false -e tarvo_hosts=localhost \
        -e "tarvo_kit_cache=$CACHE" -e "tarvo_kit=$KIT" -e "{\"tarvo_callers\": $callers}" "$@" site.yml >"$RUN" 2>&1
}
recap() { grep -o "$1=[0-9]*" "$RUN" | tail -1; }
expect_recap() {  # expect_recap "what" changed=N [failed=N]
    local what=$1 want; shift
    for want in "$@"; do
        if [ "$(recap "${want%=*}")" = "$want" ]; then pass; else fail "$what: $(recap "${want%=*}"), expected $want"$'\n'"$(cat "$RUN")"; fi
    done
}
REGISTRY=$DEFAULT_RECORDS/.installdb
BOTH='[{"caller": "APP1", "env": "all"}, {"caller": "my app(2)"}]'

play "$BOTH"
expect_recap "first run" changed=2 failed=0
expect_installed "$KIT" "$DEFAULT_DIR"
expect_file "$REGISTRY" $'CurrentVersion 5.2.4\nAPP1 5.2.4\nmy app(2) 5.2.4\n'
# shellcheck disable=SC2016 # the login shell expands it
check "QZSHCOMP published to every user" test "$(env -u QZSHCOMP bash -lc 'echo "$QZSHCOMP"')" = /opt/QZ/SharedComponents

play "$BOTH"
expect_recap "second run" changed=0 failed=0
expect_contains "$RUN" "nothing to do for caller APP1."
expect_contains "$RUN" "nothing to do for caller my app(2)."

before=$(tree_state /opt; cat /etc/profile.QZ /tmp/tarvo_install.log)
play '[{"caller": "APP1", "state": "absent", "env": "all"}, {"caller": "NEW"}]' --check
expect_recap "check mode" changed=2 failed=0
expect_contains "$RUN" "would run remove for caller APP1 because caller APP1 is registered"
expect_contains "$RUN" "would run install for caller NEW because caller NEW is not registered"
check "check mode changes nothing" test "$before" = "$(tree_state /opt; cat /etc/profile.QZ /tmp/tarvo_install.log)"
expect_absent "$CACHE/$(printf NEW | sha1sum | cut -c1-40)"

# One caller leaves through the installation's own uninstaller, the last one withdraws
# the variables with the kit; then a kit without payload fails.
play "[{\"caller\": \"my app(2)\", \"state\": \"absent\", \"kit\": \"\"}, {\"caller\": \"APP1\", \"state\": \"forceabsent\", \"env\": \"all\"},
       {\"caller\": \"BROKEN\", \"kit\": \"$TARVO_BUILD/tarvo_setup\"}]"
expect_recap "removal and a failing kit" changed=2 failed=1
expect_absent "$DEFAULT_DIR"
expect_absent /etc/profile.QZ
expect_absent "$CACHE/$(printf APP1 | sha1sum | cut -c1-40)"
expect_contains "$RUN" "exited with status 3. The end of /tmp/tarvo_install.log:"
expect_contains "$RUN" "- Install unsuccessful, return value is 3"
finish
