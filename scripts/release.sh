#!/bin/bash
# Builds the release kit for one target into dist/tarvo_installer-VERSION.TARGET.bin,
# rewrites dist/SHA256SUMS and prints the kit's name and size:
#   scripts/release.sh [x86_64|ppc64le|s390x]      (default x86_64)
# The release build is optimised for size and stripped; the x86-64 kit needs
# only the C library at run time, the cross-built kits are fully static.
# Its build directory is build-release-TARGET.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/deps.sh
target=${1:-x86_64}
jobs=$(nproc)

configure() {  # configure TARGET extra cmake arguments...
    local dir=build-release-$1; shift
    cmake --no-warn-unused-cli -S . -B "$dir" -DCMAKE_BUILD_TYPE=MinSizeRel -DTARVO_RELEASE=ON -DTARVO_TESTS=OFF "$@" >/dev/null
    cmake --build "$dir" --target tarvo_installer -j"$jobs" >/dev/null
}

case $target in
    x86_64)
        need_packages g++ make cmake libbz2-dev bzip2
        configure x86_64
        ;;
    ppc64le)
        need_ppc64le
        # The kit tool runs here: it comes from this machine's release build.
        configure x86_64
        configure ppc64le -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-ppc64le.cmake \
            -DTARVO_HOST_KIT_TOOL="$PWD/build-release-x86_64/tarvo_kit"
        ;;
    s390x)
        # The big-endian target. Its libbz2 package conflicts with the ppc64el
        # ones, so it is only unpacked, into the build directory.
        need_s390x
        bz=$PWD/build-release-s390x/libbz2
        if [ ! -f "$bz/usr/lib/s390x-linux-gnu/libbz2.a" ]; then
            rm -rf "$bz" && mkdir -p "$bz"
            (cd "$bz" && apt-get download -qq libbz2-dev:s390x 2>/dev/null && dpkg-deb -x libbz2-dev_*_s390x.deb .)
        fi
        configure x86_64
        configure s390x -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-s390x.cmake \
            -DTARVO_HOST_KIT_TOOL="$PWD/build-release-x86_64/tarvo_kit" \
            -DBZIP2_INCLUDE_DIR="$bz/usr/include" -DBZIP2_LIBRARY_RELEASE="$bz/usr/lib/s390x-linux-gnu/libbz2.a"
        ;;
    *)
        echo "usage: $0 [x86_64|ppc64le|s390x]" >&2
        exit 2
        ;;
esac
# The kit is named by the version its program carries, as the kit tool reads it:
# a kit that fails to verify or carries no version is not released.
kit=build-release-$target/tarvo_installer.bin
version=$(build-release-x86_64/tarvo_kit verify "$kit" | sed -n 's/^version //p')
case $version in
    [0-9]*.[0-9]*.[0-9]*) ;;
    *) echo "$0: $kit carries no version mark" >&2; exit 1 ;;
esac
name=tarvo_installer-$version.$target.bin
mkdir -p dist
cp "$kit" "dist/$name.tmp"
mv "dist/$name.tmp" "dist/$name"
# The checksums of every kit in dist/, by file name.
(cd dist && LC_ALL=C && shopt -s nullglob && kits=(tarvo_installer-*.bin) &&
    sha256sum -- "${kits[@]}" >SHA256SUMS.tmp && mv SHA256SUMS.tmp SHA256SUMS)
echo "dist/$name: $(stat -c %s "dist/$name") bytes"
