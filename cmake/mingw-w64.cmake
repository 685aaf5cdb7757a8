# Cross-compiling for 64-bit Windows with Debian's mingw-w64 compilers (the
# POSIX-threads variant, which std::thread needs). Programs link libgcc and
# libstdc++ statically so that each .exe runs on its own, and run under Wine
# wherever the build runs one (tests, test discovery).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KIVO_MINGW_TRIPLE x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${KIVO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KIVO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KIVO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KIVO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")

# Wine keeps its prefix inside the build folder, and says nothing of itself.
find_program(KIVO_WINE NAMES wine wine64 REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_COMMAND} -E env WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix
    WINEDEBUG=-all ${KIVO_WINE})
