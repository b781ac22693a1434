# Cross build for 64-bit Windows with MinGW-w64 (Debian: g++-mingw-w64-x86-64-posix).
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
# The program is linked statically (C and C++ runtimes, winpthread), so VELTRO.EXE
# needs no DLL beside it. Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VELTRO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VELTRO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VELTRO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${VELTRO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VELTRO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# GCC 12 for MinGW reports false -Wrestrict overlaps inside std::string at -O3 (GCC
# bug 105651).
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run through Wine, in a prefix of their own inside the build folder
# (tools/test-windows.sh creates it and sets its regional settings); WINEDEBUG=-all
# keeps Wine's diagnostics off the output.
find_program(VELTRO_WINE NAMES wine wine64)
if(VELTRO_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env WINEDEBUG=-all
      "WINEDLLOVERRIDES=mscoree,mshtml="
      WINEPREFIX=${CMAKE_BINARY_DIR}/wine ${VELTRO_WINE})
endif()
