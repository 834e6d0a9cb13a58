# Writes the payload manifest of a wrapper executable from the payload entries of the
# resource script compiled into it: one line per embedded payload resource, in the script's
# order (the order of the resource table), giving its type, identifier, the file name it
# becomes, its size in bytes and its SHA-256. tools/extract-payload.py --manifest prints the
# same lines from a built executable, so `diff` tells whether an executable carries it.
#
#   cmake -DRESOURCE_SCRIPT=payload.rc -DOUTPUT=kzt-wrapper.payload.txt -P payload-manifest.cmake

file(STRINGS "${RESOURCE_SCRIPT}" lines)
set(manifest "# kzt-wrapper payload manifest 1: type id file size sha256\n")
foreach(line IN LISTS lines)
  if(line MATCHES "^//" OR line MATCHES "^LANGUAGE ")
    continue()
  endif()
  if(NOT line MATCHES "^([0-9]+) ([A-Z0-9_]+) \"(.+)\"$")
    message(FATAL_ERROR "Unexpected line in ${RESOURCE_SCRIPT}: ${line}")
  endif()
  set(id ${CMAKE_MATCH_1})
  set(type ${CMAKE_MATCH_2})
  set(path "${CMAKE_MATCH_3}")
  get_filename_component(name "${path}" NAME)
  file(SIZE "${path}" size)
  file(SHA256 "${path}" hash)
  string(APPEND manifest "${type} ${id} ${name} ${size} ${hash}\n")
endforeach()

file(WRITE "${OUTPUT}.new" "${manifest}")
file(RENAME "${OUTPUT}.new" "${OUTPUT}")
