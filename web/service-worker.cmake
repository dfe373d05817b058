# Writes the page's service worker from its template once the page's files
# are built: the cache it keeps them in is named by the version and by the
# files' content.
#
#   cmake -DTEMPLATE=... -DOUTPUT=... -DVERSION=... -DFILES="a;b;..." -P service-worker.cmake
set(digests "")
set(names "\"./\"")
foreach(file IN LISTS FILES)
  file(SHA256 ${file} digest)
  cmake_path(GET file FILENAME name)
  string(APPEND digests "${name} ${digest}\n")
  string(APPEND names ", \"${name}\"")
endforeach()
string(SHA256 content "${digests}")
string(SUBSTRING ${content} 0 16 content)
set(MANDELBROT_CACHE_NAME "mandelbrot-${VERSION}-${content}")
set(MANDELBROT_PAGE_FILES "[${names}]")
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
