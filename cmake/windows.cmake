# What every Windows build of the program shares.

# A Windows program finds its DLLs, and Qt its plugins, beside the .exe.
set(CMAKE_INSTALL_BINDIR .)

# MinGW-w64's C++ runtime, which every program of the build loads.
set(MANDELBROT_MINGW_RUNTIME)
foreach(dll IN ITEMS libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE location OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  cmake_path(NORMAL_PATH location)
  if(NOT EXISTS ${location})
    message(FATAL_ERROR "${CMAKE_CXX_COMPILER} has no ${dll}")
  endif()
  list(APPEND MANDELBROT_MINGW_RUNTIME ${location})
endforeach()
