#!/bin/bash
# The release kit in a root with only /bin/sh and the profile utility's tools (no libbz2, no C++ runtime).
# Not part of ctest: scripts/test.sh runs it with TARVO_BUILD=build-release-x86_64.
. "$(dirname "$0")/lib.sh"
B=/tmp/bare
mkdir -p "$B/usr/bin" "$B/etc" "$B/opt" "$B/dev" "$B/root" "$B/tmp" && chmod 1777 "$B/tmp" && ln -s usr/bin "$B/bin"
for tool in sh sed grep egrep awk cut sort expr ls cp mv rm chmod cat mktemp id uname basename dirname; do
    real=$(readlink -f "$(command -v "$tool")")
    cp "$real" "$B/usr/bin/$tool"
    for lib in $(ldd "$real" 2>/dev/null | grep -o '/[^ ]*'); do mkdir -p "$B${lib%/*}" && cp -L "$lib" "$B$lib"; done
done
touch "$B/dev/null" && mount --bind /dev/null "$B/dev/null"
printf 'PATH=/usr/bin:/bin\n' > "$B/etc/profile"
cp "$KIT" "$B/kit"
check "the root has no libbz2 and no C++ runtime" test -z "$(find "$B" -name 'libbz2*' -o -name 'libstdc++*' -o -name 'libgcc_s*')"
in_root() { env -i HOME=/root PATH=/usr/bin:/bin "$(command -v chroot)" "$B" "$@"; }
# shellcheck disable=SC2016 # the login shell expands them
bare_login() { in_root /bin/sh -l -c 'echo "$QZSHCOMP|$QZLIB|$QZBIN"'; }

expect_run 0 in_root /kit install caller=B1 env=all
expect_installed "$KIT" "$B$DEFAULT_DIR"
check "a login shell there sees the variables" test "$(bare_login)" = "$VALUES"
expect_run 0 in_root "$R/uninstaller" remove caller=B1 env=all
expect_absent "$B/opt/QZ" "$B/etc/profile.QZ"
check "the login shell no longer sees them" test "$(bare_login)" = "||"
umount "$B/dev/null"
finish
