# Cross-compiles for 64-bit Windows with Debian's mingw-w64 compilers, in their
# posix-thread flavour: the win32 flavour's libstdc++ (GCC 12) has no
# std::thread, std::mutex or std::condition_variable.
#
#   cmake -S . -B build-windows/game -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DCMAKE_PREFIX_PATH=$PWD/build-windows/sdl2
#
# CMAKE_PREFIX_PATH names where a Windows SDL2 is installed
# (scripts/build-sdl2-windows puts one in build-windows/sdl2).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KESTRIVANE_MINGW_TARGET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KESTRIVANE_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KESTRIVANE_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${KESTRIVANE_MINGW_TARGET}-windres)

# Libraries, headers and CMake packages are looked for under mingw's own tree,
# which has opengl32, glu32 and the Win32 API, and under the given prefixes
# (SDL2), never in the host's /usr: its Linux SDL2 and GL would be found
# first, and link to nothing. Programs (windres, python3) are the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${KESTRIVANE_MINGW_TARGET} ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The programs carry the GCC, C++ and thread runtimes inside them, so that a
# Windows player needs no DLL from mingw beside SDL2.dll: -static takes
# libgcc, libstdc++ and winpthread as archives. Libraries named by their
# full path, as SDL2's import library is, still link to their DLL. A DLL built
# here (SDL2.dll) takes libgcc in too; it has no C++ or threads of mingw's.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Release builds are what players get: without symbols the programs shrink
# to a third or half their size, SDL2.dll by a third. Other builds keep them.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_SHARED_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_MODULE_LINKER_FLAGS_RELEASE_INIT "-s")
