# Helpers for the shell tests; sourced by tests/e2e/test_*.sh inside the sandbox.
# TARVO_BUILD is the build directory, TARVO_SRC the source tree.
set -u
FAILURES=0
PASSES=0
KIT=$TARVO_BUILD/tarvo_installer.bin
TOOL=$TARVO_BUILD/tarvo_kit
DEFAULT_RECORDS=/opt/QZ/SharedComponents/TARVO/TARVO5/Linux/ppc64/64

fail() { echo "FAIL: $*" >&2; FAILURES=$((FAILURES + 1)); }
pass() { PASSES=$((PASSES + 1)); }
check() {  # check "what" command...
    local what=$1; shift
    if "$@"; then pass; else fail "$what"; fi
}
expect_status() {  # expect_status N "what" command...
    local want=$1 what=$2 got=0; shift 2
    "$@" || got=$?
    if [ "$got" = "$want" ]; then pass; else fail "$what: status $got, expected $want"; fi
}
expect_file() {  # expect_file path "exact content"
    local got
    if [ ! -f "$1" ]; then fail "$1 missing"; return; fi
    got=$(cat "$1"; echo x); got=${got%x}
    if [ "$got" = "$2" ]; then pass; else fail "$1 content:"$'\n'"$got"$'\n'"expected:"$'\n'"$2"; fi
}
expect_contains() {  # expect_contains file "fixed text"
    if grep -qF -- "$2" "$1" 2>/dev/null; then pass; else fail "$1 lacks: $2"; fi
}
expect_lacks() {
    if grep -qF -- "$2" "$1" 2>/dev/null; then fail "$1 holds: $2"; else pass; fi
}
expect_absent() { if [ -e "$1" ] || [ -L "$1" ]; then fail "$1 exists"; else pass; fi; }
expect_present() { if [ -e "$1" ]; then pass; else fail "$1 missing"; fi; }
# Ends the test with the runner's closing line and status.
finish() {
    echo "$PASSES passed, $FAILURES failed"
    [ "$FAILURES" = 0 ]
}
