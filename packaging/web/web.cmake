# The web page: index.html loads the program with Qt's loader and shows the
# icon as its favicon. Any static web server serves these files as they are;
# the zip holds the same, ready to unpack on a static host.

# The title bar's icon: a browser has no icon theme to take it from.
qt_add_resources(mandelbrot web_icon PREFIX / FILES ${MANDELBROT_APP_ID}.png)

configure_file(${CMAKE_CURRENT_SOURCE_DIR}/web/index.html.in index.html @ONLY)
install(FILES
  ${CMAKE_CURRENT_BINARY_DIR}/index.html
  $<TARGET_FILE_DIR:mandelbrot>/mandelbrot.wasm
  ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}/platforms/qtloader.js
  ${MANDELBROT_APP_ID}.svg
  ${MANDELBROT_APP_ID}.png
  DESTINATION .)
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME mandelbrot-${PROJECT_VERSION}-web)
# The program is WebAssembly and JavaScript, which no strip tool of the
# build's knows.
set(CPACK_STRIP_FILES OFF)
