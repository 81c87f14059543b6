# Helpers for the shell tests; sourced by tests/e2e/test_*.sh inside the sandbox.
# TARVO_BUILD is the build directory, TARVO_SRC the source tree.
# Which kit, run how: TARVO_BUILD may be the release build of another target;
# then TARVO_RUNNER starts its programs (qemu-ppc64le) and TARVO_KIT_TOOL is the
# kit tool of this machine. TARVO_KIT replaces the build's demo kit.
set -u
FAILURES=0
PASSES=0
KIT=${TARVO_KIT:-$TARVO_BUILD/tarvo_installer.bin}
TOOL=${TARVO_KIT_TOOL:-$TARVO_BUILD/tarvo_kit}
# native_int32 N : the four bytes of N as the kit's machine stores them (its ELF header says which).
native_int32() {
    local b=($(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)))
    [ "$(od -An -tu1 -j5 -N1 "$KIT" | tr -d ' ')" = 2 ] && b=("${b[3]}" "${b[2]}" "${b[1]}" "${b[0]}")
    printf "$(printf '\\%03o' "${b[@]}")"
}
# Prefix for starting a program of the build by hand: $RUN "$KIT" ... (empty natively).
RUN=${TARVO_RUNNER:-}
DEFAULT_RECORDS=/opt/QZ/SharedComponents/TARVO/TARVO5/Linux/ppc64/64

fail() { echo "${FAIL_TAG:-FAIL}: $*" >&2; FAILURES=$((FAILURES + 1)); }
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

PAYLOAD_PATHS="TARVO5/Linux/ppc64/64/lib/libtarvo.so
TARVO5/Linux/ppc64/64/lib/libtarvo_thread_posix.so
TARVO5/Linux/ppc64/64/lib/libqzopenssl_crypto.so
TARVO5/Linux/ppc64/64/lib/libqzopenssl_ssl.so
TARVO5/Linux/ppc64/64/tarvo/log/liblog_api.so
TARVO5/Linux/ppc64/64/tarvo/log/_tarvo_log.cfg
TARVO5/Linux/ppc64/64/uninstaller"
DEFAULT_DIR=/opt/QZ/SharedComponents/TARVO

# run_kit KIT args... : runs an installer; its console goes to $OUT and $ERR, its status to $RC.
# A program given by path goes through the runner; other commands (setpriv, strace) need $RUN.
OUT=/tmp/.t_out ERR=/tmp/.t_err
run_kit() {
    RC=0
    if [ -n "$RUN" ]; then case $1 in */*) set -- $RUN "$@" ;; esac; fi
    "$@" >"$OUT" 2>"$ERR" || RC=$?
}
expect_rc() { if [ "$RC" = "$1" ]; then pass; else fail "$2: status $RC, expected $1 (log: $([ -f /tmp/tarvo_install.log ] && tail -3 /tmp/tarvo_install.log))"; fi; }

# payload_bytes KIT PATH : the decompressed payload file PATH of KIT on stdout.
payload_bytes() {
    local off size
    read -r off size < <("$TOOL" list "$1" | awk -v p="$2" '$1 == p { print $2, $3 }')
    tail -c +"$((off + 1))" "$1" | head -c "$size" | bzip2 -dc 2>/dev/null
}

# expect_installed KIT DIR : every payload file is in DIR, byte-identical and mode 0755.
expect_installed() {
    local p
    for p in $PAYLOAD_PATHS; do
        if ! payload_bytes "$1" "$p" | cmp -s - "$2/$p"; then fail "$2/$p differs from the payload"; continue; fi
        if [ "$(stat -c %a "$2/$p")" = 755 ]; then pass; else fail "$2/$p mode $(stat -c %a "$2/$p")"; fi
    done
}

# Files that a run must never leave behind: placeholders, temporary files, the lock, the temporary utility.
expect_no_leftovers() {
    local found
    found=$(find "${1:-/opt}" /tmp -name 'pk.*' 2>/dev/null; ls /tmp/qzprof* /tmp/.QZ_TARVO_Installer.lock 2>/dev/null)
    found=$found$(find "${1:-/opt}" -name '.tarvotmp.*' 2>/dev/null)
    if [ -z "$found" ]; then pass; else fail "left behind: $found"; fi
}

files_dat_plain() { printf '%s\n' $PAYLOAD_PATHS; }

# Snapshot of a tree: path, type, mode and checksum of everything below it.
tree_state() {
    (cd "$1" 2>/dev/null && find . -printf '%p %y %m\n' | sort && find . -type f -exec md5sum {} + | sort -k2)
}

# variant_kit OUT : a kit with the built kit's program and paths, every payload file holding other bytes.
variant_kit() {
    local dir=$1.payload path src
    mkdir -p "$dir"
    while IFS=$'\t' read -r path src; do
        case $path in '#'* | '') continue ;; esac
        printf 'variant of %s\n' "$path" > "$dir/$src"
        printf '%s\t%s\n' "$path" "$src"
    done < "$TARVO_BUILD/kit/payload/manifest" > "$dir/manifest"
    "$TOOL" build --program "$TARVO_BUILD/tarvo_setup" --manifest "$dir/manifest" --out "$1"
}

# payload_sums KIT : "md5  path" of every payload file of KIT, as md5sum prints it for the installed tree.
payload_sums() {
    local p
    for p in $PAYLOAD_PATHS; do
        printf '%s  %s\n' "$(payload_bytes "$1" "$p" | md5sum | cut -d' ' -f1)" "$p"
    done
}

# LeakSanitizer cannot work under ptrace: a sanitized build runs under strace without it.
UNDER_STRACE=ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0

# syscall_counts SYSCALLS command... : "name count" for each syscall of the comma list that the
# command's own process makes (its children not counted), as strace's when= numbers them.
syscall_counts() {
    local set=$1 log=/tmp/.t_counts; shift
    env "$UNDER_STRACE" strace -f -qq -o "$log" -e trace="$set" "$@" >/dev/null 2>&1
    awk 'NR == 1 { main = $1 }
         $1 == main && match($2, /^[a-z0-9_]+\(/) { n[substr($2, 1, RLENGTH - 1)]++ }
         END { for (s in n) print s, n[s] }' "$log"
}
