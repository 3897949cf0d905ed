# Cross-build for 64-bit Windows with mingw-w64 (posix-thread g++: std::thread and
# std::mutex work). Everything is linked statically, so Updater.exe and the test programs
# run on a bare Windows and under Wine without any runtime DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TQ5_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TQ5_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TQ5_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TQ5_MINGW_TRIPLE}-windres)

# Libraries and headers come only from the mingw-w64 sysroot; host tools from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${TQ5_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The cross wrapper looks only at the sysroot's .pc files, so Linux-only packages (RtMidi,
# JACK, ALSA) are simply not found and their folders skip themselves.
set(PKG_CONFIG_EXECUTABLE ${TQ5_MINGW_TRIPLE}-pkg-config CACHE FILEPATH "pkg-config for the target")

# libgcc, libstdc++ and winpthread linked in: one self-contained .exe.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine. A prefix of our own keeps the user's ~/.wine untouched;
# tools/win-test.sh initialises it once. WINEDEBUG=-all keeps Wine's chatter out of the
# test logs.
if(DEFINED ENV{WINEPREFIX} AND NOT "$ENV{WINEPREFIX}" STREQUAL "")
    set(_tq5_default_prefix "$ENV{WINEPREFIX}")
else()
    set(_tq5_default_prefix "$ENV{HOME}/.wine-tq5")
endif()
set(TQ5_WINEPREFIX "${_tq5_default_prefix}" CACHE PATH "Wine prefix that runs the test programs")
find_program(TQ5_WINE_PROGRAM NAMES wine wine64)
if(TQ5_WINE_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR
        /usr/bin/env WINEPREFIX=${TQ5_WINEPREFIX} WINEDEBUG=-all
        "WINEDLLOVERRIDES=mscoree,mshtml=" ${TQ5_WINE_PROGRAM})
endif()
