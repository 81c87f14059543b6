# Cross build for 64-bit big-endian IBM Z with Debian's cross compiler
# (g++-s390x-linux-gnu). Debian's libbz2-dev:s390x cannot be installed beside
# the ppc64el packages, so scripts/release.sh unpacks it into a private root and
# names its header and archive (BZIP2_INCLUDE_DIR, BZIP2_LIBRARY_RELEASE).
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE s390x-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/s390x-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x)
