# Cross build of the Windows programs: 32-bit PE console programs made by
# mingw-w64 (i686), statically linked so that they need no DLL beyond those of
# the system (KERNEL32 and the C runtime, msvcrt).
#
#   cmake --workflow --preset windows   ->  build/windows/unpack.exe, Vellomar.exe
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# mingw-w64's own printf family instead of msvcrt's: C99 conversions (%zu,
# %lld, and PRIu64 as "llu") in every file, whichever header comes first, so
# that a format prints the same bytes as the Linux build.
set(CMAKE_CXX_FLAGS_INIT "-D__USE_MINGW_ANSI_STDIO=1")
# Console subsystem; the GCC and C++ runtimes linked in.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-mconsole -static -static-libgcc -static-libstdc++")
