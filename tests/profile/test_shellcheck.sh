# The utility is plain POSIX sh.
. "$TARVO_SRC/tests/profile/lib.sh"

if command -v shellcheck >/dev/null; then
    check "shellcheck -s sh" shellcheck -s sh "$QZP"
    # Every disabled check says why on its own line.
    check "disabled checks carry a reason" sh -c "! grep 'shellcheck disable=' '$QZP' | grep -v 'disable=[A-Z0-9,]* # .'"
else
    echo "shellcheck not installed; skipped"
fi
check "dash parses it" dash -n "$QZP"
check "bash --posix parses it" bash --posix -n "$QZP"
finish
