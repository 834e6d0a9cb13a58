# Writes the payload entries of the resource script from a payload folder, at build time.
# Every file present becomes its resource; an absent file means an absent resource. The
# wrapper never inspects its payload: the kind of each file is checked here, what the
# packages hold by tools/check-payload-contract.py.
#
#   cmake -DPAYLOAD_DIR=... -DOUTPUT=payload.rc -DIDENTITY=release-identity.txt
#         [-DALLOW_PARTIAL=ON] -P payload_resources.cmake

cmake_minimum_required(VERSION 3.25)  # quoted texts in if() are texts, not variable names

# The file names of the release identity (the build's release-identity.txt).
file(STRINGS "${IDENTITY}" identity_lines REGEX "^(PRODUCT_PACKAGE|CABINETS)=")
foreach(line IN LISTS identity_lines)
  string(REGEX MATCH "^([A-Z_]+)=(.*)$" _ "${line}")
  set(identity_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
endforeach()
set(product_package "${identity_PRODUCT_PACKAGE}")
string(REPLACE " " ";" cabinets "${identity_CABINETS}")
list(LENGTH cabinets cabinet_count)
if(product_package STREQUAL "" OR NOT cabinet_count EQUAL 7)
  message(FATAL_ERROR "${IDENTITY} names no product package or not seven cabinets")
endif()
list(GET cabinets 0 cabinet9)
list(GET cabinets 1 cabinet10)
list(GET cabinets 2 cabinet7)
list(GET cabinets 3 cabinet8)
list(GET cabinets 4 cabinet11)
list(GET cabinets 5 cabinet12)
list(GET cabinets 6 cabinet13)

# file name | resource type | identifier | kind, in the order of the resource table (the
# cabinets in the order the cabinet thread writes them)
set(payload_table
  "${product_package}|ZELVAN_INSTALLER|101|package"
  "${cabinet9}|ZELVAN_CAB9|110|cabinet"
  "${cabinet10}|ZELVAN_CAB10|111|cabinet"
  "${cabinet7}|ZELVAN_CAB7|108|cabinet"
  "${cabinet8}|ZELVAN_CAB8|109|cabinet"
  "${cabinet11}|ZELVAN_CAB11|112|cabinet"
  "${cabinet12}|ZELVAN_CAB12|113|cabinet"
  "${cabinet13}|ZELVAN_CAB13|114|cabinet"
  "au.msi|ZELVAN_INSTALLER|1119|package"
  "au.cab|ZELVAN_INSTALLER|1120|cabinet")

if(NOT IS_DIRECTORY "${PAYLOAD_DIR}")
  message(FATAL_ERROR "Payload folder not found: ${PAYLOAD_DIR}")
endif()
if(NOT ALLOW_PARTIAL AND NOT EXISTS "${PAYLOAD_DIR}/${product_package}")
  message(FATAL_ERROR "The payload folder ${PAYLOAD_DIR} has no product package ${product_package}")
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
