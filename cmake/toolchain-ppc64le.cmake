# Cross build for 64-bit little-endian PowerPC with Debian's cross compiler
# (g++-powerpc64le-linux-gnu) and libbz2-dev:ppc64el.
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(TARVO_CROSS_TRIPLET powerpc64le-linux-gnu)
set(TARVO_CROSS_EMULATOR qemu-ppc64le)
include(${CMAKE_CURRENT_LIST_DIR}/cross.cmake)
