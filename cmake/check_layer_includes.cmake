# Fails when a file of a layer includes one of ours by a path relative to itself
# ("win32/x.h", "../app/x.h"): such a path is found beside the file before any include
# root, so it would reach a layer the roots keep out of sight. Paths from a layer folder
# ("training/x.h") and the Mbed TLS headers are the only quoted includes.
# cmake -DLIST=<file with one path a line> -DSTAMP=<file written on success> -P this
file(STRINGS "${LIST}" files)
set(bad "")
foreach(f ${files})
  file(STRINGS "${f}" lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line ${lines})
    string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"]*)\".*$" "\\1" path "${line}")
    if(NOT path MATCHES "^(base|net|training|session|app|resources|mbedtls|psa)/[^.]" OR path MATCHES "(^|/)\\.\\.?/")
      string(APPEND bad "  ${f}: #include \"${path}\"\n")
    endif()
  endforeach()
endforeach()
if(bad)
  message(FATAL_ERROR "Include a header by its path from a layer folder, not from the including file:\n${bad}")
endif()
file(TOUCH "${STAMP}")
