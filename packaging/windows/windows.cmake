# What a Windows user expects of a desktop program: the icon, the version
# information and a manifest inside mandelbrot.exe; beside it, the DLLs and
# Qt plugins it loads and nothing else; an installer and a portable zip.
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE MANDELBROT_COPYRIGHT REGEX "^Copyright " LIMIT_COUNT 1)

# The icon at the sizes the title bar, the taskbar, Explorer and the Start
# menu ask for, drawn from the one SVG; the 256 px image stays PNG inside the
# .ico, as Windows expects of that size.
find_program(ICOTOOL icotool REQUIRED)
set(MANDELBROT_ICO ${CMAKE_CURRENT_BINARY_DIR}/mandelbrot.ico)
mandelbrot_draw_icons(icons 16 32 48 256)
add_custom_command(
  OUTPUT ${MANDELBROT_ICO}
  COMMAND ${ICOTOOL} -c -o ${MANDELBROT_ICO} icon-16.png icon-32.png icon-48.png --raw=icon-256.png
  DEPENDS ${icons}
  VERBATIM)
add_custom_target(windows_icon DEPENDS ${MANDELBROT_ICO})

set(MANDELBROT_MANIFEST ${CMAKE_CURRENT_BINARY_DIR}/mandelbrot.manifest)
configure_file(windows/mandelbrot.manifest.in ${MANDELBROT_MANIFEST} @ONLY)
set(resources ${CMAKE_CURRENT_BINARY_DIR}/mandelbrot.rc)
configure_file(windows/mandelbrot.rc.in ${resources} @ONLY)
target_sources(mandelbrot PRIVATE ${resources})
set_source_files_properties(${resources} TARGET_DIRECTORY mandelbrot
                            PROPERTIES OBJECT_DEPENDS "${MANDELBROT_ICO};${MANDELBROT_MANIFEST}")
add_dependencies(mandelbrot windows_icon)

# The DLLs the program loads, found where the build found them (a target's
# file, or a path), and shipped beside it without their symbols: libstdc++
# alone is 24 MB with them, 2 MB without.
set(shipped)
function(ship_stripped destination)
  foreach(dll IN LISTS ARGN)
    if(TARGET ${dll})
      get_target_property(dll ${dll} LOCATION)
    endif()
    cmake_path(GET dll FILENAME name)
    set(stripped ${CMAKE_CURRENT_BINARY_DIR}/shipped/${destination}/${name})
    add_custom_command(OUTPUT ${stripped}
                       COMMAND ${CMAKE_STRIP} --strip-unneeded -o ${stripped} ${dll}
                       DEPENDS ${dll}
                       VERBATIM)
    install(FILES ${stripped} DESTINATION ${destination})
    list(APPEND shipped ${stripped})
  endforeach()
  set(shipped ${shipped} PARENT_SCOPE)
endfunction()

ship_stripped(. Qt6::Core Qt6::Gui Qt6::Widgets TBB::tbb hwy::hwy ${MANDELBROT_MINGW_RUNTIME})
# Qt looks for its plugins beside the program too.
ship_stripped(platforms Qt6::QWindowsIntegrationPlugin)
ship_stripped(styles Qt6::QModernWindowsStylePlugin)
add_custom_target(shipped_dlls ALL DEPENDS ${shipped})
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)

# The installer puts all of it in Program Files, with a Start menu entry and
# an entry under installed apps; the zip runs from any folder it is unpacked in.
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_INSTALL_DIRECTORY ${MANDELBROT_DISPLAY_NAME})
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY ${MANDELBROT_DISPLAY_NAME})
set(CPACK_PACKAGE_EXECUTABLES mandelbrot ${MANDELBROT_DISPLAY_NAME})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_NSIS_PACKAGE_NAME ${MANDELBROT_DISPLAY_NAME})
set(CPACK_NSIS_DISPLAY_NAME ${MANDELBROT_DISPLAY_NAME})
set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_INSTALLED_ICON_NAME mandelbrot.exe)
set(CPACK_NSIS_MUI_ICON ${MANDELBROT_ICO})
set(CPACK_NSIS_MUI_UNIICON ${MANDELBROT_ICO})
set(CPACK_NSIS_CONTACT mandelbrot@escapetime.net)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# The installer notes its folder under the vendor's registry key; the
# uninstaller would delete the note but leave the vendor's key, empty.
set(vendor_key "Software\\${CPACK_PACKAGE_VENDOR}")
set(CPACK_NSIS_EXTRA_UNINSTALL_COMMANDS
    "DeleteRegKey SHCTX \"${vendor_key}\\${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}\"
  DeleteRegKey /ifempty SHCTX \"${vendor_key}\"")
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
# A 64-bit installer for a 64-bit program: NSIS makes 32-bit ones unless
# told, and those see the 32-bit registry and cannot start where 32-bit
# programs cannot run at all, such as a 64-bit-only Wine.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
