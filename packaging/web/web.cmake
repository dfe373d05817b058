# The web page: index.html loads the program with Qt's loader. The page is
# an app that a browser installs from its manifest, and a service worker
# keeps its files for use without a network. Any static web server serves
# these files as they are; hosts that serve precompressed files find .gz and
# .br beside the program's. The zip holds the same, ready to unpack on a
# static host.

# The title bar's icon: a browser has no icon theme to take it from.
qt_add_resources(mandelbrot web_icon PREFIX / FILES ${MANDELBROT_APP_ID}.png)

# The installed app's title bar, and the page behind the program.
set(MANDELBROT_THEME_COLOUR "#0a2a0e")
set(MANDELBROT_BACKGROUND_COLOUR "#f0f0f0")
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/web/index.html.in index.html @ONLY)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/web/manifest.webmanifest.in manifest.webmanifest @ONLY)
mandelbrot_draw_icons(app_icons 192 512)

set(program $<TARGET_FILE_DIR:mandelbrot>/mandelbrot)
# The link writes the .wasm beside the .js, but names only the .js as its
# output: what reads the .wasm depends on the .js.
set(linked $<TARGET_FILE:mandelbrot>)
set(qt_loader ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS}/platforms/qtloader.js)
set(license ${CMAKE_CURRENT_BINARY_DIR}/LICENSE.txt)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${license} COPYONLY)

# What a visitor downloads, compressed ahead for hosts that serve .gz and
# .br files as they are. -n leaves out the time stamp, so that the same
# sources give the same files.
find_program(BROTLI brotli REQUIRED)
set(compressed)
foreach(file IN ITEMS ${program}.wasm ${program}.js ${qt_loader})
  cmake_path(GET file FILENAME name)
  set(output ${CMAKE_CURRENT_BINARY_DIR}/${name})
  add_custom_command(OUTPUT ${output}.gz ${output}.br
                     COMMAND gzip -9 -n -c ${file} > ${output}.gz
                     COMMAND ${BROTLI} -f -q 11 -o ${output}.br ${file}
                     DEPENDS ${linked} ${qt_loader}
                     VERBATIM)
  list(APPEND compressed ${output}.gz ${output}.br)
endforeach()

set(page_files
  ${CMAKE_CURRENT_BINARY_DIR}/index.html
  ${CMAKE_CURRENT_BINARY_DIR}/manifest.webmanifest
  ${program}.js
  ${program}.wasm
  ${qt_loader}
  ${CMAKE_CURRENT_SOURCE_DIR}/${MANDELBROT_APP_ID}.svg
  ${CMAKE_CURRENT_SOURCE_DIR}/${MANDELBROT_APP_ID}.png
  ${app_icons}
  ${license})
set(service_worker ${CMAKE_CURRENT_BINARY_DIR}/service-worker.js)
set(page_inputs ${page_files})
list(REMOVE_ITEM page_inputs ${program}.wasm)
add_custom_command(OUTPUT ${service_worker}
                   COMMAND ${CMAKE_COMMAND} -DTEMPLATE=${CMAKE_CURRENT_SOURCE_DIR}/web/service-worker.js.in
                           -DOUTPUT=${service_worker} -DVERSION=${PROJECT_VERSION} "-DFILES=${page_files}"
                           -P ${CMAKE_CURRENT_SOURCE_DIR}/web/service-worker.cmake
                   DEPENDS ${page_inputs} ${CMAKE_CURRENT_SOURCE_DIR}/web/service-worker.js.in
                           ${CMAKE_CURRENT_SOURCE_DIR}/web/service-worker.cmake
                   VERBATIM)
add_custom_target(web_page ALL DEPENDS ${service_worker} ${compressed})

# The program itself comes with its target.
list(REMOVE_ITEM page_files ${program}.js)
install(FILES ${page_files} ${service_worker} ${compressed} DESTINATION .)

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_FILE_NAME mandelbrot-${PROJECT_VERSION}-web)
# The program is WebAssembly and JavaScript, which no strip tool of the
# build's knows.
set(CPACK_STRIP_FILES OFF)
