# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 compilers.
# The posix-threads variants are used: the win32-threads ones have no
# std::thread or std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TALLOW_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TALLOW_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TALLOW_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TALLOW_MINGW_TRIPLE}-windres)

# Headers and libraries come from the MinGW sysroot plus whatever prefixes the
# caller adds (the cross-built Qt); programs run during the build are the
# host's.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${TALLOW_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
