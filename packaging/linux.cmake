# The desktop entry, icons, metainfo and documentation of a Linux desktop,
# and the Debian package.
install(FILES ${MANDELBROT_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${MANDELBROT_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${MANDELBROT_APP_ID}.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${MANDELBROT_APP_ID}.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/128x128/apps)
# Debian looks for the license and the release history of a package here,
# under these names, and for manual pages compressed.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} RENAME copyright)
set(compressed)
foreach(file IN ITEMS changelog mandelbrot.1)
  # -n leaves out the time stamp, so that the same sources give the same package.
  add_custom_command(
    OUTPUT ${file}.gz
    COMMAND gzip -9 -n -c ${CMAKE_CURRENT_SOURCE_DIR}/${file} > ${file}.gz
    DEPENDS ${file}
    VERBATIM)
  list(APPEND compressed ${CMAKE_CURRENT_BINARY_DIR}/${file}.gz)
endforeach()
add_custom_target(compressed_docs ALL DEPENDS ${compressed})
add_dependencies(mandelbrot compressed_docs)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/mandelbrot.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# The Debian package: what `cmake --install` installs, under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# CPack would name the architecture of the build machine; a cross build's
# package is for the machine it builds for.
if(CMAKE_CROSSCOMPILING)
  execute_process(COMMAND dpkg-architecture -t ${CMAKE_LIBRARY_ARCHITECTURE} -qDEB_HOST_ARCH
                  OUTPUT_VARIABLE CPACK_DEBIAN_PACKAGE_ARCHITECTURE OUTPUT_STRIP_TRAILING_WHITESPACE
                  ERROR_QUIET COMMAND_ERROR_IS_FATAL ANY)
endif()
set(CPACK_DEBIAN_PACKAGE_SECTION math)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "explore the Mandelbrot set by clicking into it
Mandelbrot Explorer draws the Mandelbrot set by escape time in a 500 by 500
pixel area. Press a mouse button anywhere on the picture to magnify the view
ten times about that point; press the new button to start over from the
whole set in new colours. Every pixel is computed exactly, in double
precision.")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Without it Qt falls back to XWayland, and a Wayland desktop shows the window
# blurred at fractional scales.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
