# Fails when a file of a layer includes one of ours by a path relative to itself
# ("win32/x.h", "../app/x.h"): such a path is found beside the file before any include
# root, so it would reach a layer the roots keep out of sight. Paths from a layer folder
# ("training/x.h") and the Mbed TLS headers are the only quoted includes. An angle-bracket
# include is looked up in the roots only, but a "." or ".." step inside it walks out of
# the root it was found in (<net/../session/x.h>), so no include of either kind has one.
# A file in a sub-folder of session/ is a part the Host is made of: it never includes
# the Host itself, so the Host can depend on the parts and not the other way round.
# cmake -DLIST=<file with one path a line> -DSTAMP=<file written on success> -P this
file(STRINGS "${LIST}" files)
set(bad "")
foreach(f ${files})
  file(STRINGS "${f}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*[\"<]")
  foreach(line ${lines})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*[\"<]([^\">]*)[\">].*$" "\\1" path "${line}")
    if(path MATCHES "(^|/)\\.\\.?(/|$)")
      string(APPEND bad "  ${f}: #include ${path} (a . or .. step)\n")
    elseif(line MATCHES "include[ \t]*\"" AND NOT path MATCHES "^(base|net|training|session|app|resources|mbedtls|psa)/[^.]")
      string(APPEND bad "  ${f}: #include \"${path}\"\n")
    elseif(path STREQUAL "session/host.h" AND f MATCHES "/session/[^/]+/[^/]+$")
      string(APPEND bad "  ${f}: #include \"${path}\" (a part of the Host includes the Host)\n")
    endif()
  endforeach()
endforeach()
if(bad)
  message(FATAL_ERROR "Include a header by its path from a layer folder, without . or .. steps:\n${bad}")
endif()
file(TOUCH "${STAMP}")
