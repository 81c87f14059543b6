#!/bin/bash
# The release kit on a bare machine: a root that holds only the kit, /bin/sh and
# the tools of the profile utility with their own libraries (no libbz2, no C++
# runtime). Install, upgrade and removal with env=all, seen by a login shell there.
# Not part of ctest: scripts/test.sh runs it with TARVO_BUILD=build-release-x86_64.
. "$(dirname "$0")/lib.sh"
B=/tmp/bare
R=$B$DEFAULT_DIR/TARVO5/Linux/ppc64/64

mkdir -p "$B/usr/bin" "$B/etc" "$B/opt" "$B/dev" "$B/root" "$B/tmp"
chmod 1777 "$B/tmp"
ln -s usr/bin "$B/bin"
for tool in sh sed grep egrep awk cut sort expr ls cp mv rm chmod cat mktemp id uname basename dirname; do
    real=$(readlink -f "$(command -v "$tool")")
    cp "$real" "$B/usr/bin/$tool"
    for lib in $(ldd "$real" 2>/dev/null | grep -o '/[^ ]*'); do
        mkdir -p "$B${lib%/*}" && cp -L "$lib" "$B$lib"
    done
done
touch "$B/dev/null" && mount --bind /dev/null "$B/dev/null"
printf 'PATH=/usr/bin:/bin\n' > "$B/etc/profile"
cp "$KIT" "$B/kit"
check "the root has no libbz2 and no C++ runtime" test -z "$(find "$B" -name 'libbz2*' -o -name 'libstdc++*' -o -name 'libgcc_s*')"

CHROOT=$(command -v chroot)
in_root() { env -i HOME=/root PATH=/usr/bin:/bin "$CHROOT" "$B" "$@"; }
login_sees() { in_root /bin/sh -l -c 'echo "$QZSHCOMP|$QZLIB|$QZBIN"'; }
VALUES="/opt/QZ/SharedComponents|/opt/QZ/SharedComponents/lib|/opt/QZ/SharedComponents/bin"

run_kit in_root /kit install caller=B1 env=all
expect_rc 0 "install in the bare root ($(cat "$ERR"))"
expect_installed "$KIT" "$B$DEFAULT_DIR"
check "a login shell there sees the variables" test "$(login_sees)" = "$VALUES"

sed -i 's/^CurrentVersion .*/CurrentVersion 5.2.3/' "$R/.installdb"
before=$(stat -c %i "$R/lib/libtarvo.so")
run_kit in_root /kit install caller=B2 env=all
expect_rc 0 "upgrade in the bare root"
check "payload placed again on upgrade" test "$(stat -c %i "$R/lib/libtarvo.so")" != "$before"
expect_file "$R/.installdb" $'CurrentVersion 5.2.4\nB1 5.2.4\nB2 5.2.4\n'

run_kit in_root /kit remove caller=B1 env=all
expect_rc 0 "first removal"
run_kit in_root "$DEFAULT_DIR/TARVO5/Linux/ppc64/64/uninstaller" remove caller=B2 env=all
expect_rc 0 "removal by the installed uninstaller"
expect_absent "$B/opt/QZ"
expect_absent "$B/etc/profile.QZ"
check "the login shell no longer sees them" test "$(login_sees)" = "||"
umount "$B/dev/null"

finish
