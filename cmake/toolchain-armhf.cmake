# Cross build for 32-bit ARM Linux (armhf, hard float) with Debian's cross compiler and the
# armhf multiarch libraries (scripts/install-deps.sh --armhf installs both):
#
#   cmake -S . -B build/armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake
#
# Test programs run under qemu-user; ctest prefixes them with the emulator by itself.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(KORSA_ARMHF_TRIPLET arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${KORSA_ARMHF_TRIPLET}-gcc)
set(CMAKE_CXX_COMPILER ${KORSA_ARMHF_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${KORSA_ARMHF_TRIPLET})

# No sysroot: the compiler finds the multiarch headers and libraries below /usr by itself.
# Everything CMake looks up must be armhf, and tools must be the host's.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# qemu-user runs the test programs with the multiarch armhf loader and C library
# (/lib/ld-linux-armhf.so.3, installed with the armhf packages). Not with
# "-L /usr/arm-linux-gnueabihf": that takes the cross toolchain's own loader, which then
# finds the multiarch C library of a different build through /etc/ld.so.cache, and the
# mismatched pair crashes as soon as a program starts a thread.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)

# pkg-config with Debian's armhf personality (armhf .pc files only), plus the armhf .pc files
# of GStreamer's plugins-base, which install-deps.sh keeps outside the package system.
set(KORSA_ARMHF_OVERLAY /opt/korsa-armhf CACHE PATH "armhf pkg-config overlay")
set(PKG_CONFIG_EXECUTABLE ${KORSA_ARMHF_TRIPLET}-pkg-config CACHE FILEPATH "pkg-config")
set(ENV{PKG_CONFIG_PATH} ${KORSA_ARMHF_OVERLAY}/pkgconfig)
if(NOT EXISTS ${KORSA_ARMHF_OVERLAY}/pkgconfig/gstreamer-video-1.0.pc)
    message(FATAL_ERROR "No armhf pkg-config files in ${KORSA_ARMHF_OVERLAY}: "
                        "run scripts/install-deps.sh --armhf first")
endif()
