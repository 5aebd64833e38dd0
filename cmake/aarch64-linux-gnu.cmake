# Cross-building for arm64 (a Raspberry Pi running Raspberry Pi OS or Debian) on a Debian
# amd64 machine with Debian's multiarch cross toolchain: crossbuild-essential-arm64 and the
# :arm64 Qt development packages. Qt's host tools (moc, rcc) are the amd64 ones in /usr.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# The build machine's pkg-config, reading the arm64 side's .pc files only (what the
# triplet-named wrapper does, without needing a package for it).
set(PKG_CONFIG_EXECUTABLE pkg-config CACHE FILEPATH "pkg-config for arm64")
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)

# Libraries and CMake packages of the arm64 side only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/lib/aarch64-linux-gnu /usr/aarch64-linux-gnu)
set(CMAKE_PREFIX_PATH /usr/lib/aarch64-linux-gnu/cmake)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

# The tests run under qemu-user; programs the tests start themselves (the recorder, the
# simulated board) run through the kernel's binfmt registration of qemu-user-static.
find_program(KELVARO_QEMU_AARCH64 qemu-aarch64-static qemu-aarch64)
if(KELVARO_QEMU_AARCH64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KELVARO_QEMU_AARCH64})
endif()

# GCC 12's arm64 cross compiler warns of string overflows inside libstdc++'s own
# algorithms that cannot happen (the preset keeps them warnings, not errors, with
# -Wno-error=stringop-overflow).

# The Debian package is for arm64.
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE arm64)
