# Cross build for the switch's CPU: 32-bit big-endian MIPS (Debian
# g++-mips-linux-gnu). Programs built here run on the build machine under
# qemu-user, so CTest (and gtest_discover_tests) run every test through
# CMAKE_CROSSCOMPILING_EMULATOR.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)

set(PC_TARGET_TRIPLE mips-linux-gnu)
set(PC_TARGET_SYSROOT /usr/${PC_TARGET_TRIPLE} CACHE PATH "Libraries of the target (qemu's -L)")

set(CMAKE_C_COMPILER ${PC_TARGET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${PC_TARGET_TRIPLE}-g++)

find_program(PC_QEMU_MIPS qemu-mips)
if(NOT PC_QEMU_MIPS)
  set(PC_QEMU_MIPS qemu-mips)
endif()
set(CMAKE_CROSSCOMPILING_EMULATOR ${PC_QEMU_MIPS} -L ${PC_TARGET_SYSROOT})

# Look for the target's libraries and headers only in the target's places;
# programs (pkg-config, ccache) come from the build machine.
set(CMAKE_FIND_ROOT_PATH ${PC_TARGET_SYSROOT} /usr/lib/${PC_TARGET_TRIPLE})
set(CMAKE_LIBRARY_ARCHITECTURE ${PC_TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config must not answer with the build machine's libraries (json-c,
# mxml): only target .pc files count, and there are none unless someone
# installs the MIPS packages.
set(ENV{PKG_CONFIG_LIBDIR}
    "/usr/lib/${PC_TARGET_TRIPLE}/pkgconfig:${PC_TARGET_SYSROOT}/lib/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")

# json-c and Mini-XML have no MIPS packages: scripts/mips-deps.sh cross-builds
# them from their Debian sources into a cache, used when it is there.
if(DEFINED ENV{PC_DEPS_CACHE})
  set(PC_TARGET_DEPS "$ENV{PC_DEPS_CACHE}/${PC_TARGET_TRIPLE}")
else()
  set(PC_TARGET_DEPS "$ENV{HOME}/.cache/platform_core-deps/${PC_TARGET_TRIPLE}")
endif()
if(EXISTS "${PC_TARGET_DEPS}/lib/pkgconfig")
  list(APPEND CMAKE_FIND_ROOT_PATH "${PC_TARGET_DEPS}")
  set(ENV{PKG_CONFIG_LIBDIR} "${PC_TARGET_DEPS}/lib/pkgconfig:$ENV{PKG_CONFIG_LIBDIR}")
endif()

# 32-bit MIPS has no 64-bit atomic instructions: GCC calls libatomic for
# them. Linked only into what needs it.
set(CMAKE_C_STANDARD_LIBRARIES_INIT "-Wl,--push-state,--as-needed -latomic -Wl,--pop-state")
set(CMAKE_CXX_STANDARD_LIBRARIES_INIT "-Wl,--push-state,--as-needed -latomic -Wl,--pop-state")
