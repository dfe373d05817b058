# What every web build shares: the core and its tests, built by emscripten
# for WebAssembly, without the window.
if(MANDELBROT_THREADS OR MANDELBROT_WINDOW)
  message(FATAL_ERROR "The web build is the core alone: configure with -DMANDELBROT_THREADS=OFF -DMANDELBROT_WINDOW=OFF")
endif()

# Highway's WASM target counts with WebAssembly's 128-bit SIMD, which every
# current browser has: the page tells a browser without it so, and never
# counts there. It is the one target of the core the page downloads.
add_compile_options(-msimd128)

# The page downloads the core: built for size (MinSizeRel), with
# emscripten's smallest code.
string(APPEND CMAKE_CXX_FLAGS_MINSIZEREL " -Oz")
string(APPEND CMAKE_EXE_LINKER_FLAGS_MINSIZEREL " -Oz")

# Where Node.js and CPack are not on this machine's PATH, what runs them for
# the tests: the web preset's builds run in Debian 13's root.
set(MANDELBROT_WEB_RUN "" CACHE STRING "A command that runs the web build's tools (Node.js, CPack) for its tests")

# Programs that run under Node.js rather than in the page, the tests and the
# benchmark: they end when main returns, with its exit code.
function(mandelbrot_node_program target)
  target_link_options(${target} PRIVATE "SHELL:-s ENVIRONMENT=node" "SHELL:-s EXIT_RUNTIME=1"
                                        "SHELL:-s ALLOW_MEMORY_GROWTH=1" "SHELL:-s STACK_SIZE=1MB")
endfunction()
