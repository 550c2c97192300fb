# Shared part of the MinGW-w64 toolchain files. The including file sets
# MEROVANE_TRIPLET before including this one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 10.0)

set(CMAKE_C_COMPILER   ${MEROVANE_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MEROVANE_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER  ${MEROVANE_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MEROVANE_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Tests run under Wine. The Debian wrapper script prints a warning about the
# missing 32-bit loader on every start, so the 64-bit loader is used directly.
if(MEROVANE_TRIPLET STREQUAL "x86_64-w64-mingw32" AND EXISTS /usr/lib/wine/wine64)
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
else()
  find_program(MEROVANE_WINE NAMES wine)
  if(MEROVANE_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${MEROVANE_WINE})
  endif()
endif()
