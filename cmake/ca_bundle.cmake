# Writes the trust store shipped beside the program: every certificate of the Mozilla set
# in DIR, in file-name order so that two builds of the same set give the same bytes.
# cmake -DDIR=<folder of .crt files> -DOUT=<bundle> -P this
file(GLOB files "${DIR}/*.crt")
list(SORT files)
if(NOT files)
  message(FATAL_ERROR "no certificates in ${DIR}: install ca-certificates (make setup)")
endif()
set(bundle "")
foreach(f ${files})
  file(READ "${f}" pem)
  # A file without a last line end would run its END line into the next BEGIN line.
  if(NOT pem MATCHES "\n$")
    string(APPEND pem "\n")
  endif()
  string(APPEND bundle "${pem}")
endforeach()
file(WRITE "${OUT}.tmp" "${bundle}")
file(RENAME "${OUT}.tmp" "${OUT}")
