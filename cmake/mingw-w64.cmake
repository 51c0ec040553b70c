# Cross build for 64-bit Windows with mingw-w64's POSIX-thread compiler (the win32-thread one
# has no std::thread), against the Windows kit (scripts/windows-kit) named by
# TORVANE_WINDOWS_KIT: its Qt, libcurl and SQLite. Programs link the compiler's runtime as DLLs,
# as the kit's Qt does, so one C++ runtime serves both; tcping links it statically and runs
# alone. Programs run under Wine wherever CMake or CTest runs them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TORVANE_WINDOWS_KIT)
if(TORVANE_WINDOWS_KIT)
    list(APPEND CMAKE_FIND_ROOT_PATH ${TORVANE_WINDOWS_KIT}/qt ${TORVANE_WINDOWS_KIT}/curl)
    # moc, rcc and uic are Debian's own, of the same Qt version as the kit.
    set(QT_HOST_PATH /usr)
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(TORVANE_WINE NAMES wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${TORVANE_WINE})
