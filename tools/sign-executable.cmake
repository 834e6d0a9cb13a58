# Signs a Windows executable in place with an Authenticode signature (SHA-256 digest) by
# osslsigncode. The signed image goes to a temporary file beside the executable and is
# renamed over it only when signing succeeded, so no reader ever sees a half-written file.
# When signing fails the unsigned executable is deleted too: a build that was asked to sign
# must not leave behind an executable that could be shipped unsigned by mistake.
#
#   cmake -DEXECUTABLE=file.exe -DOSSLSIGNCODE=osslsigncode
#         (-DPKCS12=file.p12 | -DCERT=cert.pem -DKEY=key.pem) [-DPASSWORD_FILE=file]
#         [-DTIMESTAMP_URL=url] [-DSIGN_TIME=seconds] [-DDESCRIPTION=text]
#         -P sign-executable.cmake

set(signed "${EXECUTABLE}.signing")
file(REMOVE "${signed}")

set(args sign -h sha256)
if(NOT "${PKCS12}" STREQUAL "")
  list(APPEND args -pkcs12 "${PKCS12}")
else()
  list(APPEND args -certs "${CERT}" -key "${KEY}")
endif()
if(NOT "${PASSWORD_FILE}" STREQUAL "")
  # Read by osslsigncode itself: the password never appears on a command line.
  list(APPEND args -readpass "${PASSWORD_FILE}")
endif()
if(NOT "${DESCRIPTION}" STREQUAL "")
  list(APPEND args -n "${DESCRIPTION}")
endif()
if(NOT "${TIMESTAMP_URL}" STREQUAL "")
  list(APPEND args -ts "${TIMESTAMP_URL}")
endif()
if(NOT "${SIGN_TIME}" STREQUAL "")
  list(APPEND args -time "${SIGN_TIME}")
endif()
list(APPEND args -in "${EXECUTABLE}" -out "${signed}")

execute_process(COMMAND "${OSSLSIGNCODE}" ${args} RESULT_VARIABLE result)
if(NOT result EQUAL 0 OR NOT EXISTS "${signed}")
  file(REMOVE "${signed}" "${EXECUTABLE}")
  message(FATAL_ERROR "Signing ${EXECUTABLE} failed (osslsigncode: ${result}); "
    "the unsigned executable was removed")
endif()
file(CHMOD "${signed}" PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ
  GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
file(RENAME "${signed}" "${EXECUTABLE}")
