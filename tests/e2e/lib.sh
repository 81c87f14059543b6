# Helpers of the shell tests (in the sandbox). TARVO_BUILD may be another target's release build, run by TARVO_RUNNER.
set -u
FAILURES=0 PASSES=0
KIT=${TARVO_KIT:-$TARVO_BUILD/tarvo_installer.bin} TOOL=${TARVO_KIT_TOOL:-$TARVO_BUILD/tarvo_kit} RUN=${TARVO_RUNNER:-}
DEFAULT_DIR=/opt/QZ/SharedComponents/TARVO
R=$DEFAULT_DIR/TARVO5/Linux/ppc64/64
LOG=/tmp/tarvo_install.log LOCK=/tmp/.QZ_TARVO_Installer.lock OUT=/tmp/.t_out ERR=/tmp/.t_err
PAYLOAD_PATHS=$(printf "TARVO5/Linux/ppc64/64/%s\n" lib/libtarvo.so lib/libtarvo_thread_posix.so \
    lib/libqzopenssl_crypto.so lib/libqzopenssl_ssl.so tarvo/log/liblog_api.so tarvo/log/_tarvo_log.cfg uninstaller)
VALUES="/opt/QZ/SharedComponents|/opt/QZ/SharedComponents/lib|/opt/QZ/SharedComponents/bin"
# LeakSanitizer cannot work under ptrace: a sanitized build runs under strace without it.
UNDER_STRACE=ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0

fail() { echo "FAIL: $*" >&2; FAILURES=$((FAILURES + 1)); }
pass() { PASSES=$((PASSES + 1)); }
check() { local what=$1; shift; if "$@"; then pass; else fail "$what"; fi; }  # check "what" command...
expect_status() {  # expect_status N "what" command...
    local want=$1 what=$2 got=0; shift 2
    "$@" || got=$?
    if [ "$got" = "$want" ]; then pass; else fail "$what: status $got, expected $want"; fi
}
expect_file() {  # expect_file path "exact content"
    local got
    [ -f "$1" ] || { fail "$1 missing"; return; }
    got=$(cat "$1"; echo x); got=${got%x}
    if [ "$got" = "$2" ]; then pass; else fail "$1 content:"$'\n'"$got"$'\n'"expected:"$'\n'"$2"; fi
}
# expect_contains FILE TEXT... / expect_lacks FILE TEXT... : fixed texts; expect_absent / expect_present PATH...
expect_contains() { local f=$1 t; shift; for t; do if grep -qF -- "$t" "$f" 2>/dev/null; then pass; else fail "$f lacks: $t"; fi; done; }
expect_lacks() { local f=$1 t; shift; for t; do if grep -qF -- "$t" "$f" 2>/dev/null; then fail "$f holds: $t"; else pass; fi; done; }
expect_absent() { local p; for p; do if [ -e "$p" ] || [ -L "$p" ]; then fail "$p exists"; else pass; fi; done; }
expect_present() { local p; for p; do if [ -e "$p" ]; then pass; else fail "$p missing"; fi; done; }
finish() { echo "$PASSES passed, $FAILURES failed"; [ "$FAILURES" = 0 ]; }

# run_kit PROGRAM args... : console to $OUT and $ERR, status to $RC; only a program given by path gets the runner.
# expect_run STATUS PROGRAM args... : run_kit, then the status; kit_ok / kit_fails args... : a run of the kit that
# ends with status 0 / 3; kit_fails_logging "text" args... : one that ends with status 3 and logs that text.
run_kit() {
    RC=0
    if [ -n "$RUN" ]; then case $1 in */*) set -- $RUN "$@" ;; esac; fi
    "$@" >"$OUT" 2>"$ERR" || RC=$?
}
expect_rc() { if [ "$RC" = "$1" ]; then pass; else fail "$2: status $RC, expected $1 (log: $(tail -3 $LOG 2>/dev/null); $(head -3 "$ERR"))"; fi; }
expect_run() { local want=$1; shift; run_kit "$@"; expect_rc "$want" "$*"; }
kit_ok() { expect_run 0 "$KIT" "$@"; }
kit_fails() { expect_run 3 "$KIT" "$@"; }
kit_fails_logging() { local text=$1; shift; kit_fails "$@"; expect_contains $LOG "$text"; }
expect_db() { expect_file "$R/.installdb" "$(printf '%s\n' "$@")"$'\n'; }  # expect_db LINE...

# expect_installed KIT DIR : every payload file is in DIR, as the kit holds it, mode 0755.
expect_installed() {
    local p off size bad=
    for p in $PAYLOAD_PATHS; do
        read -r off size < <("$TOOL" list "$1" | awk -v p="$p" '$1 == p { print $2, $3 }')
        tail -c +"$((off + 1))" "$1" | head -c "$size" | bzip2 -dc 2>/dev/null | cmp -s - "$2/$p" &&
            [ "$(stat -c %a "$2/$p")" = 755 ] || bad="$bad $p"
    done
    check "installed in $2, whole and 0755 (not:$bad)" test -z "$bad"
}
# No placeholder, temporary record, lock or temporary utility is left behind.
expect_no_leftovers() {
    local found
    found=$(find "${1:-/opt}" /tmp -name 'pk.*' -o -name '.tarvotmp.*' 2>/dev/null; ls /tmp/qzprof* $LOCK 2>/dev/null)
    check "left behind: $found" test -z "$found"
}
# Snapshot of a tree: path, type, mode and checksum of everything below it.
tree_state() { (cd "$1" 2>/dev/null && find . -printf '%p %y %m\n' | sort && find . -type f -exec md5sum {} + | sort -k2); }
# login_vars SHELL : the three variables as a fresh login shell (tcsh too) hands them to its commands.
login_vars() {
    # shellcheck disable=SC2016 # the child shell expands them
    local cmd='sh -c '\''printf "%s|%s|%s\n" "$QZSHCOMP" "$QZLIB" "$QZBIN"'\'
    if [ "$1" = tcsh ]; then env -i HOME="$HOME" PATH=/usr/bin:/bin tcsh -l <<<"$cmd" 2>/dev/null | tail -n 1
    else env -i HOME="$HOME" PATH=/usr/bin:/bin "$1" -l -c "$cmd" 2>/dev/null; fi
}
# kit_without PATTERN OUT : a kit of this program without the payload paths that match the grep pattern.
kit_without() {
    local payload=$TARVO_BUILD/kit/payload
    grep -v -e '^#' -e "$1" "$payload/manifest" | sed "s|	|	$payload/|" >"$2.manifest" &&
        "$TOOL" catalog-only --program "$TARVO_BUILD/uninstaller" --manifest "$2.manifest" --out "$2.uninstaller" &&
        sed -i "s|	$payload/uninstaller\$|	$2.uninstaller|" "$2.manifest" &&
        "$TOOL" build --program "$TARVO_BUILD/tarvo_setup" --manifest "$2.manifest" --out "$2"
}
# hold_lock PID : the lock file of a run by PID, in the byte order of the kit's machine.
hold_lock() {
    local b=($(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)))
    [ "$(od -An -tu1 -j5 -N1 "$KIT" | tr -d ' ')" = 2 ] && b=("${b[3]}" "${b[2]}" "${b[1]}" "${b[0]}")
    printf "$(printf '\\%03o' "${b[@]}")" >$LOCK
}
