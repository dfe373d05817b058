# Cross build for 64-bit ARM with Debian's cross compiler and the :arm64
# development packages of multiarch (dpkg --add-architecture arm64). Programs
# built with it run under qemu-aarch64, which finds the arm64 C library that
# libc6:arm64 installs. The window needs qt6-base-dev:arm64; without it,
# -DMANDELBROT_WINDOW=OFF builds the drawing arithmetic alone.
#
#   cmake -S . -B build/arm64 -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)

set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)

# Libraries and packages from the arm64 multiarch directories only; build
# tools from the host.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH / /usr/aarch64-linux-gnu)
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /usr/lib/x86_64-linux-gnu/cmake)

set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)

# pkg-config, which Qt asks about Wayland, xkbcommon and others, must answer
# for arm64 too: the amd64 answers would have the link fail.
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/aarch64-linux-gnu/pkgconfig:/usr/share/pkgconfig)
