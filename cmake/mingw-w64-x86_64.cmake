# Cross build for 64-bit Windows with Debian's MinGW-w64 (posix threads).
# Qt, Highway, oneTBB, GoogleTest and Google Benchmark for Windows come from
# scripts/windows-deps, which builds them from Debian's sources and prints
# the folder they are installed in:
#
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DMANDELBROT_WINDOWS_PREFIX="$(scripts/windows-deps)"
#
# Programs built with it run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# Windows aligns stacks to 16 bytes only, so an aligned 32- or 64-byte move
# of a spilled AVX vector faults at random. Debian's compiler already spills
# with unaligned moves; the assembler makes sure of it for any other.
set(CMAKE_C_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")
set(CMAKE_CXX_FLAGS_INIT "-Wa,-muse-unaligned-vector-move")

# Libraries and packages from MinGW-w64 and the Windows prefix only; build
# tools (Qt's moc and rcc among them) from the host.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MANDELBROT_WINDOWS_PREFIX)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${MANDELBROT_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR wine)
