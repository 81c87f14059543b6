# Cross build for 64-bit big-endian IBM Z with Debian's cross compiler
# (g++-s390x-linux-gnu). Debian's libbz2-dev:s390x cannot be installed beside
# the ppc64el packages, so scripts/release.sh unpacks it into a private root and
# names its header and archive (BZIP2_INCLUDE_DIR, BZIP2_LIBRARY_RELEASE).
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(TARVO_CROSS_TRIPLET s390x-linux-gnu)
set(TARVO_CROSS_EMULATOR qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
