# The release identity of a build, checked and turned into every name that derives from it.
# Included by the top-level CMakeLists.txt and by tests/native.
#
# Inputs (cache; empty: the value of cmake/release-identity.txt, or derived):
#   WRAPPER_PRODUCT_VERSION   <major>.<minor>.<micro>_<update>, four decimal numbers
#   WRAPPER_BUILD_STRING      the product version, "-b" and the build number
#   WRAPPER_MANIFEST_VERSION  four numbers; empty: <minor>.<micro>.<update>0.<build number>
#   WRAPPER_UPDATE_SERVICE    yes or no: whether the release carries the update service
# Results: the WRAPPER_RELEASE_* variables below, ${WRAPPER_GENERATED_DIR}/release_identity.h
# for the code and ${WRAPPER_GENERATED_DIR}/release-identity.txt for the scripts.

set(WRAPPER_IDENTITY_DEFAULTS ${CMAKE_CURRENT_LIST_DIR}/release-identity.txt)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${WRAPPER_IDENTITY_DEFAULTS})
file(STRINGS ${WRAPPER_IDENTITY_DEFAULTS} identity_lines REGEX "^[A-Z_]+=")
foreach(identity_line_text IN LISTS identity_lines)
  string(REGEX MATCH "^([A-Z_]+)=(.*)$" _ "${identity_line_text}")
  set(identity_default_${CMAKE_MATCH_1} "${CMAKE_MATCH_2}")
endforeach()

set(WRAPPER_PRODUCT_VERSION "" CACHE STRING
    "Product version <major>.<minor>.<micro>_<update>; empty: ${identity_default_PRODUCT_VERSION} (cmake/release-identity.txt)")
set(WRAPPER_BUILD_STRING "" CACHE STRING
    "Build string, the product version followed by -b<number>; empty: ${identity_default_BUILD_STRING}")
set(WRAPPER_MANIFEST_VERSION "" CACHE STRING
    "Assembly version of the manifest, four numbers; empty: <minor>.<micro>.<update>0.<build number>")
set(WRAPPER_UPDATE_SERVICE "" CACHE STRING
    "Whether the release carries the update service (au.msi, au.cab): yes or no; empty: ${identity_default_UPDATE_SERVICE}")

function(refuse_identity)
  string(JOIN "" text ${ARGN})
  message(FATAL_ERROR "Release identity: ${text}")
endfunction()

# Leading zeros are part of the texts (an update "05" names cabinets "...050"), not of the
# numbers CMake computes with.
function(identity_number text out)
  string(REGEX REPLACE "^0+([0-9])" "\\1" number "${text}")
  string(LENGTH "${number}" digits)
  if(digits GREATER 9)
    refuse_identity("the number ${text} is too large")
  endif()
  set(${out} ${number} PARENT_SCOPE)
endfunction()

set(identity_version "${WRAPPER_PRODUCT_VERSION}")
if(identity_version STREQUAL "")
  set(identity_version "${identity_default_PRODUCT_VERSION}")
endif()
if(NOT identity_version MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)_([0-9]+)$")
  refuse_identity("WRAPPER_PRODUCT_VERSION '${identity_version}' is not "
    "<major>.<minor>.<micro>_<update> made of four decimal numbers "
    "(for example ${identity_default_PRODUCT_VERSION})")
endif()
set(WRAPPER_RELEASE_MAJOR ${CMAKE_MATCH_1})
set(WRAPPER_RELEASE_MINOR ${CMAKE_MATCH_2})
set(WRAPPER_RELEASE_MICRO ${CMAKE_MATCH_3})
set(WRAPPER_RELEASE_UPDATE ${CMAKE_MATCH_4})
set(WRAPPER_RELEASE_VERSION "${identity_version}")

set(identity_build "${WRAPPER_BUILD_STRING}")
if(identity_build STREQUAL "")
  set(identity_build "${identity_default_BUILD_STRING}")
endif()
# The registration tool gets the build string unquoted on its command line: a blank or a
# quote would split it or smuggle in another argument.
if(NOT identity_build MATCHES "^[A-Za-z0-9._-]+$")
  refuse_identity("WRAPPER_BUILD_STRING '${identity_build}' may hold only letters, digits, "
    "'.', '_' and '-'")
endif()
string(FIND "${identity_build}" "${identity_version}-b" identity_at)
if(NOT identity_at EQUAL 0)
  refuse_identity("WRAPPER_BUILD_STRING '${identity_build}' does not belong to the product "
    "version ${identity_version}: it must begin with '${identity_version}-b' (set both, for "
    "example -DWRAPPER_PRODUCT_VERSION=${identity_version} "
    "-DWRAPPER_BUILD_STRING=${identity_version}-b01)")
endif()
set(WRAPPER_RELEASE_BUILD_STRING "${identity_build}")

set(identity_manifest "${WRAPPER_MANIFEST_VERSION}")
if(identity_manifest STREQUAL "")
  if(NOT identity_build MATCHES "-b([0-9]+)$")
    refuse_identity("the manifest version cannot be derived from the build string '${identity_build}' "
      "(it does not end in -b<number>): set WRAPPER_MANIFEST_VERSION")
  endif()
  identity_number(${CMAKE_MATCH_1} identity_build_number)
  identity_number(${WRAPPER_RELEASE_MINOR} identity_minor)
  identity_number(${WRAPPER_RELEASE_MICRO} identity_micro)
  identity_number(${WRAPPER_RELEASE_UPDATE} identity_update)
  math(EXPR identity_update_part "${identity_update} * 10")
  set(identity_manifest
    "${identity_minor}.${identity_micro}.${identity_update_part}.${identity_build_number}")
endif()
if(NOT identity_manifest MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
  refuse_identity("the manifest version '${identity_manifest}' is not four decimal numbers")
endif()
foreach(identity_part ${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${CMAKE_MATCH_3} ${CMAKE_MATCH_4})
  identity_number(${identity_part} identity_part_value)
  if(identity_part_value GREATER 65535)
    refuse_identity("the manifest version '${identity_manifest}' has a part above 65535")
  endif()
endforeach()
set(WRAPPER_RELEASE_MANIFEST_VERSION "${identity_manifest}")

# The payload contract refuses a release without au.msi unless its identity says so.
set(identity_service "${WRAPPER_UPDATE_SERVICE}")
if(identity_service STREQUAL "")
  set(identity_service "${identity_default_UPDATE_SERVICE}")
endif()
if(NOT identity_service MATCHES "^(yes|no)$")
  refuse_identity("WRAPPER_UPDATE_SERVICE '${identity_service}' is neither yes nor no")
endif()
set(WRAPPER_RELEASE_UPDATE_SERVICE "${identity_service}")

# Names of this release, as the wrapper forms them (staging folder, cabinet thread, registry).
set(WRAPPER_RELEASE_PACKAGE "kzt${identity_version}.msi")
set(WRAPPER_RELEASE_STAGING_FOLDER "kzt${identity_version}")
set(identity_cabinet_number
  "${WRAPPER_RELEASE_MAJOR}${WRAPPER_RELEASE_MINOR}${WRAPPER_RELEASE_MICRO}${WRAPPER_RELEASE_UPDATE}0")
set(WRAPPER_RELEASE_CABINETS)
foreach(identity_prefix ss st sj sp sz sb sr)  # in the order the cabinet thread writes them
  list(APPEND WRAPPER_RELEASE_CABINETS "${identity_prefix}${identity_cabinet_number}.cab")
endforeach()
set(WRAPPER_RELEASE_KIT_KEY "SOFTWARE\\Halvern\\Zelvan Development Kit\\${identity_version}")
set(WRAPPER_RELEASE_RUNTIME_KEY "SOFTWARE\\Halvern\\Zelvan Runtime Environment\\${identity_version}")
set(WRAPPER_RELEASE_MANIFEST_NAME "kzt-${WRAPPER_RELEASE_MINOR}-windows-i586")
set(WRAPPER_RELEASE_DISPLAY_NAME "Zelvan(TM) Development Kit ${identity_version}")
# The languages other than 1033 that the development kit's language rules can choose: the
# product package must carry a transform for each.
set(WRAPPER_RELEASE_TRANSFORM_LANGUAGES 1041 2052)

# Every name must fit the wrapper's buffers. Staged paths are formed in 260 characters below
# a user data folder the platform chooses; a release must leave 128 of them for that folder.
set(identity_user_data_room 128)
list(GET WRAPPER_RELEASE_CABINETS 0 identity_cabinet)  # the seven names are equally long
foreach(identity_staged "${WRAPPER_RELEASE_PACKAGE}" "${identity_cabinet}")
  set(identity_path "\\Orvik\\Zelvan\\${WRAPPER_RELEASE_STAGING_FOLDER}_x64\\${identity_staged}")
  string(LENGTH "${identity_path}" identity_length)
  math(EXPR identity_room "${identity_length} + ${identity_user_data_room}")
  if(identity_room GREATER 259)
    refuse_identity("the product version ${identity_version} makes the staged path "
      "<user data>${identity_path} ${identity_length} characters long, and with a user data "
      "folder of ${identity_user_data_room} characters it would not fit the wrapper's "
      "260-character path buffer")
  endif()
endforeach()
# The registration command line: quoted tool path below a common files folder of up to 259
# characters, then " -r rtq " and the build string, in 1024 characters.
string(LENGTH "\"\\Zelvan\\Zelvan Update\\dorvane.exe\" -r rtq ${identity_build}" identity_length)
math(EXPR identity_line "${identity_length} + 259")
if(identity_line GREATER 1023)
  refuse_identity("WRAPPER_BUILD_STRING '${identity_build}' would not fit the registration tool's "
    "1024-character command line")
endif()

set(WRAPPER_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
string(JOIN ", " WRAPPER_RELEASE_TRANSFORM_LANGUAGE_LIST ${WRAPPER_RELEASE_TRANSFORM_LANGUAGES})
configure_file(${CMAKE_CURRENT_LIST_DIR}/release_identity.h.in
  ${WRAPPER_GENERATED_DIR}/release_identity.h @ONLY)
string(JOIN " " identity_cabinet_words ${WRAPPER_RELEASE_CABINETS})
string(JOIN " " identity_language_words ${WRAPPER_RELEASE_TRANSFORM_LANGUAGES})
# KEY=value lines; the values hold no line breaks. The payload build step adds the update
# service's identity and writes the whole beside the executable (kzt-wrapper.identity.txt).
file(CONFIGURE OUTPUT ${WRAPPER_GENERATED_DIR}/release-identity.txt CONTENT
"PRODUCT_VERSION=${identity_version}
BUILD_STRING=${identity_build}
MANIFEST_VERSION=${identity_manifest}
MANIFEST_NAME=${WRAPPER_RELEASE_MANIFEST_NAME}
DISPLAY_NAME=${WRAPPER_RELEASE_DISPLAY_NAME}
PRODUCT_PACKAGE=${WRAPPER_RELEASE_PACKAGE}
STAGING_FOLDER=${WRAPPER_RELEASE_STAGING_FOLDER}
CABINETS=${identity_cabinet_words}
KIT_KEY=${WRAPPER_RELEASE_KIT_KEY}
RUNTIME_KEY=${WRAPPER_RELEASE_RUNTIME_KEY}
TRANSFORM_LANGUAGES=${identity_language_words}
UPDATE_SERVICE=${identity_service}
" @ONLY)

# Whether this is the identity the tree builds by default (the wine64 tests expect it).
if(identity_version STREQUAL identity_default_PRODUCT_VERSION AND
   identity_build STREQUAL identity_default_BUILD_STRING AND
   identity_service STREQUAL identity_default_UPDATE_SERVICE)
  set(WRAPPER_RELEASE_IS_DEFAULT ON)
else()
  set(WRAPPER_RELEASE_IS_DEFAULT OFF)
endif()
