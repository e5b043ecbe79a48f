# Cross-building for 64-bit Windows with Debian's MinGW-w64 (posix thread model,
# so std::thread and std::mutex work). The programs link libgcc, libstdc++ and
# winpthread statically: an .exe needs no DLL beside it, under Wine or Windows.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#
# Libraries are looked up only in the MinGW sysroot and in the prefixes that
# scripts/windows-deps.sh fills: $KELVAD_WINDOWS_CACHE/{wx-msw,gtest}
# (/var/cache/kelvad-windows unless that variable or -DKELVAD_WINDOWS_CACHE says
# otherwise).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(_kelvad_triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${_kelvad_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_kelvad_triple}-g++-posix)
set(CMAKE_RC_COMPILER ${_kelvad_triple}-windres)
# Without these CMake's archiver search may settle on the host's ar.
set(CMAKE_AR ${_kelvad_triple}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${_kelvad_triple}-ranlib CACHE FILEPATH "")

if(NOT KELVAD_WINDOWS_CACHE)
    if(DEFINED ENV{KELVAD_WINDOWS_CACHE})
        set(KELVAD_WINDOWS_CACHE "$ENV{KELVAD_WINDOWS_CACHE}")
    else()
        set(KELVAD_WINDOWS_CACHE /var/cache/kelvad-windows)
    endif()
endif()
# try_compile projects read this file again: hand them the same cache.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KELVAD_WINDOWS_CACHE)

set(CMAKE_FIND_ROOT_PATH
    /usr/${_kelvad_triple}
    ${KELVAD_WINDOWS_CACHE}/wx-msw
    ${KELVAD_WINDOWS_CACHE}/gtest)
# Host tools (windres, wine) from the host; everything else only from the roots
# above. FindwxWidgets asks for wx-config with ONLY_CMAKE_FIND_ROOT_PATH, so
# the cross wx-config in wx-msw/bin is the one it finds.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static makes ld take libwinpthread.a rather than its import library; the
# other two keep the C++ runtime out of DLLs as well.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Test executables (gtest_discover_tests, add_test) run through Wine. On Debian
# 12 `wine` is the launcher (it starts /usr/lib/wine/wine64; there is no
# /usr/bin/wine64). Wine's own messages are off unless -DCMAKE_CROSSCOMPILING_EMULATOR
# says otherwise. It uses $WINEPREFIX, or ~/.wine, made on its first run. A
# prefix's wineserver keeps the DISPLAY it started with for a few seconds after
# its last program: before a GUI run under another display (xvfb-run), let it end
# (`wineserver -w`) or use another prefix, or windows fail to open.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
    find_program(KELVAD_WINE NAMES wine)
    if(KELVAD_WINE)
        set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all ${KELVAD_WINE})
    endif()
endif()
