# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix thread model, which
# std::thread needs). VESPANODE_WINDOWS_PREFIX names where the target's own liblzo2, GoogleTest and
# the header-only CLI11 were installed; programs are linked statically, so a bare .exe runs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VESPANODE_WINDOWS_PREFIX)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${VESPANODE_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Tests run through Wine when it is there.
find_program(VESPANODE_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(VESPANODE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VESPANODE_WINE})
endif()
