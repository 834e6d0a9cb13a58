# Release steps of the product executable, run after every link of kzt_wrapper:
#  - the payload manifest beside it (kzt-wrapper.payload.txt): type, identifier, file name,
#    size and SHA-256 of every payload resource, in the order of the resource table;
#  - an Authenticode signature (SHA-256, osslsigncode) when a code-signing certificate is
#    configured; without one the executable stays unsigned and the build says so;
#  - the release summary (tools/release-summary.py), read from what these steps left.
# Included by the top-level CMakeLists.txt after add_wrapper_executable(kzt_wrapper ...).

set(WRAPPER_SIGN_PKCS12 "" CACHE FILEPATH
    "PKCS#12 file with the code-signing certificate and its key; empty: see WRAPPER_SIGN_CERT")
set(WRAPPER_SIGN_CERT "" CACHE FILEPATH
    "PEM file with the code-signing certificate (and its chain), used with WRAPPER_SIGN_KEY")
set(WRAPPER_SIGN_KEY "" CACHE FILEPATH "PEM file with the private key of WRAPPER_SIGN_CERT")
set(WRAPPER_SIGN_PASSWORD_FILE "" CACHE FILEPATH
    "File whose first line is the password of the PKCS#12 file or of the PEM key")
set(WRAPPER_SIGN_TIMESTAMP_URL "" CACHE STRING
    "RFC 3161 time-stamp server for the signature; empty: no time stamp")
set(WRAPPER_SIGN_TIME "" CACHE STRING
    "Signing time recorded in the signature, in seconds since 1970 UTC; empty: the time of the build")
set(WRAPPER_SIGN_DESCRIPTION "" CACHE STRING
    "Program name recorded in the signature (shown at the elevation prompt); empty: the product's display name")
set(release_sign_description "${WRAPPER_SIGN_DESCRIPTION}")
if(release_sign_description STREQUAL "")
  set(release_sign_description "${WRAPPER_RELEASE_DISPLAY_NAME}")
endif()

# A password on the command line would stay readable in CMakeCache.txt, in build.ninja and
# in the process list while the build runs; only a file name travels.
if(DEFINED WRAPPER_SIGN_PASSWORD)
  message(FATAL_ERROR "WRAPPER_SIGN_PASSWORD is not accepted: put the password into a file "
    "readable only by you and pass -DWRAPPER_SIGN_PASSWORD_FILE=<file> "
    "(remove the variable with -UWRAPPER_SIGN_PASSWORD)")
endif()

set(release_sign_inputs)
if(NOT WRAPPER_SIGN_PKCS12 STREQUAL "")
  if(NOT WRAPPER_SIGN_CERT STREQUAL "" OR NOT WRAPPER_SIGN_KEY STREQUAL "")
    message(FATAL_ERROR "Give either WRAPPER_SIGN_PKCS12 or WRAPPER_SIGN_CERT with "
      "WRAPPER_SIGN_KEY, not both")
  endif()
  list(APPEND release_sign_inputs ${WRAPPER_SIGN_PKCS12})
elseif(NOT WRAPPER_SIGN_CERT STREQUAL "" OR NOT WRAPPER_SIGN_KEY STREQUAL "")
  if(WRAPPER_SIGN_CERT STREQUAL "" OR WRAPPER_SIGN_KEY STREQUAL "")
    message(FATAL_ERROR "WRAPPER_SIGN_CERT and WRAPPER_SIGN_KEY go together")
  endif()
  list(APPEND release_sign_inputs ${WRAPPER_SIGN_CERT} ${WRAPPER_SIGN_KEY})
endif()

set(release_manifest
  "$<TARGET_FILE_DIR:kzt_wrapper>/$<TARGET_FILE_BASE_NAME:kzt_wrapper>.payload.txt")
# The manifest is made from the payload entries of the resource script that was compiled
# into the executable, so it lists exactly what is embedded, in the script's order.
add_custom_command(TARGET kzt_wrapper POST_BUILD
  COMMAND ${CMAKE_COMMAND} -DRESOURCE_SCRIPT=${CMAKE_BINARY_DIR}/resources/kzt_wrapper/payload.rc
          -DOUTPUT=${release_manifest} -P ${CMAKE_SOURCE_DIR}/tools/payload-manifest.cmake
  VERBATIM)
set(release_link_depends ${CMAKE_SOURCE_DIR}/tools/payload-manifest.cmake)

if(release_sign_inputs)
  if(NOT WRAPPER_SIGN_PASSWORD_FILE STREQUAL "")
    list(APPEND release_sign_inputs ${WRAPPER_SIGN_PASSWORD_FILE})
  endif()
  foreach(file IN LISTS release_sign_inputs)
    if(NOT EXISTS ${file})
      message(FATAL_ERROR "Signing input not found: ${file}")
    endif()
  endforeach()
  if(NOT WRAPPER_SIGN_TIME STREQUAL "" AND NOT WRAPPER_SIGN_TIME MATCHES "^[0-9]+$")
    message(FATAL_ERROR "WRAPPER_SIGN_TIME must be seconds since 1970, not '${WRAPPER_SIGN_TIME}'")
  endif()
  find_program(WRAPPER_OSSLSIGNCODE osslsigncode)
  if(NOT WRAPPER_OSSLSIGNCODE)
    message(FATAL_ERROR "Signing needs osslsigncode (Debian package osslsigncode)")
  endif()
  add_custom_command(TARGET kzt_wrapper POST_BUILD
    COMMAND ${CMAKE_COMMAND} -DEXECUTABLE=$<TARGET_FILE:kzt_wrapper>
            -DOSSLSIGNCODE=${WRAPPER_OSSLSIGNCODE}
            -DPKCS12=${WRAPPER_SIGN_PKCS12} -DCERT=${WRAPPER_SIGN_CERT} -DKEY=${WRAPPER_SIGN_KEY}
            -DPASSWORD_FILE=${WRAPPER_SIGN_PASSWORD_FILE}
            -DTIMESTAMP_URL=${WRAPPER_SIGN_TIMESTAMP_URL} -DSIGN_TIME=${WRAPPER_SIGN_TIME}
            -DDESCRIPTION=${release_sign_description}
            -P ${CMAKE_SOURCE_DIR}/tools/sign-executable.cmake
    VERBATIM)
  # A renewed certificate or password under the same file name signs again.
  list(APPEND release_link_depends ${release_sign_inputs}
    ${CMAKE_SOURCE_DIR}/tools/sign-executable.cmake)
  set(release_how "SHA-256")
  if(NOT WRAPPER_SIGN_TIMESTAMP_URL STREQUAL "")
    string(APPEND release_how ", time stamp from ${WRAPPER_SIGN_TIMESTAMP_URL}")
  endif()
  message(STATUS "kzt-wrapper.exe will be signed (${release_how}) with "
    "${release_sign_inputs}")
else()
  message(STATUS "kzt-wrapper.exe will NOT be signed: no code-signing certificate "
    "(set WRAPPER_SIGN_PKCS12, or WRAPPER_SIGN_CERT and WRAPPER_SIGN_KEY)")
  add_custom_command(TARGET kzt_wrapper POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E echo
            "$<TARGET_FILE_NAME:kzt_wrapper> is unsigned (no code-signing certificate configured)"
    VERBATIM)
endif()
# Last: what the steps above left, as a release engineer checks it.
add_custom_command(TARGET kzt_wrapper POST_BUILD
  COMMAND /usr/bin/python3 ${CMAKE_SOURCE_DIR}/tools/release-summary.py $<TARGET_FILE:kzt_wrapper>
          --identity ${WRAPPER_IDENTITY_FILE} --manifest ${release_manifest}
  VERBATIM)
set_property(TARGET kzt_wrapper APPEND PROPERTY LINK_DEPENDS ${release_link_depends})
