# Cross build for 64-bit Windows with Debian's MinGW-w64 (the POSIX thread model, which
# std::thread and GoogleTest need). Tests run under Wine through the emulator below.
#   cmake --preset windows   (build/windows; make test-windows builds and runs it)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KT_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Debian keeps the 64-bit loader out of PATH; other systems call it wine64 or wine.
find_program(KT_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(KT_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${KT_WINE})
endif()
