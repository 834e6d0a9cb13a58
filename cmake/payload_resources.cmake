# Writes the payload entries of the resource script from a payload folder, at build time.
# Every file present becomes its resource; an absent file means an absent resource. The
# wrapper never inspects its payload, so this is the one place that checks each file's kind.
#
#   cmake -DPAYLOAD_DIR=... -DOUTPUT=payload.rc [-DALLOW_PARTIAL=ON] -P payload_resources.cmake

# file name | resource type | identifier | kind, in the order of the resource table
set(payload_table
  "kzt1.6.0_32.msi|ZELVAN_INSTALLER|101|package"
  "ss160320.cab|ZELVAN_CAB9|110|cabinet"
  "st160320.cab|ZELVAN_CAB10|111|cabinet"
  "sj160320.cab|ZELVAN_CAB7|108|cabinet"
  "sp160320.cab|ZELVAN_CAB8|109|cabinet"
  "sz160320.cab|ZELVAN_CAB11|112|cabinet"
  "sb160320.cab|ZELVAN_CAB12|113|cabinet"
  "sr160320.cab|ZELVAN_CAB13|114|cabinet"
  "au.msi|ZELVAN_INSTALLER|1119|package"
  "au.cab|ZELVAN_INSTALLER|1120|cabinet")

if(NOT IS_DIRECTORY "${PAYLOAD_DIR}")
  message(FATAL_ERROR "Payload folder not found: ${PAYLOAD_DIR}")
endif()
if(NOT ALLOW_PARTIAL AND NOT EXISTS "${PAYLOAD_DIR}/kzt1.6.0_32.msi")
  message(FATAL_ERROR "The payload folder ${PAYLOAD_DIR} has no product package kzt1.6.0_32.msi")
endif()

set(script "// Generated from ${PAYLOAD_DIR}; do not edit.\nLANGUAGE 9, 1\n")
foreach(entry IN LISTS payload_table)
  string(REPLACE "|" ";" row "${entry}")
  list(GET row 0 name)
  list(GET row 1 type)
  list(GET row 2 id)
  list(GET row 3 kind)
  set(path "${PAYLOAD_DIR}/${name}")
  if(NOT EXISTS "${path}")
    continue()
  endif()
  file(READ "${path}" head LIMIT 8 HEX)
  if(kind STREQUAL "package")
    set(expected "d0cf11e0a1b11ae1")
    set(what "Windows Installer package (D0 CF 11 E0 A1 B1 1A E1)")
  else()
    set(expected "4d534346")
    set(what "cabinet (MSCF)")
  endif()
  string(FIND "${head}" "${expected}" at)
  if(NOT at EQUAL 0)
    message(FATAL_ERROR "Payload file ${path} does not begin like a ${what}")
  endif()
  string(APPEND script "${id} ${type} \"${path}\"\n")
endforeach()

# Rewritten only when it changes, so an unchanged payload does not relink the executable.
file(WRITE "${OUTPUT}.new" "${script}")
file(COPY_FILE "${OUTPUT}.new" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.new")
