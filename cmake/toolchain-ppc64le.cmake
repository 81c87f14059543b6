# Cross build for 64-bit little-endian PowerPC with Debian's cross compiler
# (g++-powerpc64le-linux-gnu) and libbz2-dev:ppc64el.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(CMAKE_C_COMPILER powerpc64le-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER powerpc64le-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE powerpc64le-linux-gnu)
set(CMAKE_FIND_ROOT_PATH /usr/powerpc64le-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
# Programs of the target run under qemu-user on the build machine.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-ppc64le)
