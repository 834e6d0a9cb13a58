# add_engine_library(name FILE a,b,c,d PRODUCT a,b,c,d [TEXT "x.y.z.w"])
# A DLL whose VERSIONINFO carries the given file and product versions; TEXT is the
# FileVersion string, which the gate must not read. The DLL goes to engine_library_dir.
# Used by the wine64 tests and by the 32-bit tests of the guest.
function(add_engine_library name)
  cmake_parse_arguments(arg "" "FILE;PRODUCT;TEXT" "" ${ARGN})
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/rc/${name}.rc)
  if(NOT arg_TEXT)
    string(REPLACE "," "." arg_TEXT "${arg_FILE}")
  endif()
  file(WRITE ${rc}.in "1 VERSIONINFO
FILEVERSION ${arg_FILE}
PRODUCTVERSION ${arg_PRODUCT}
FILEFLAGSMASK 0x3f
FILEFLAGS 0
FILEOS 0x40004
FILETYPE 2
FILESUBTYPE 0
BEGIN
  BLOCK \"StringFileInfo\"
  BEGIN
    BLOCK \"040904b0\"
    BEGIN
      VALUE \"FileDescription\", \"engine library stand-in\"
      VALUE \"FileVersion\", \"${arg_TEXT}\"
      VALUE \"ProductVersion\", \"${arg_PRODUCT}\"
    END
  END
  BLOCK \"VarFileInfo\"
  BEGIN
    VALUE \"Translation\", 0x409, 1200
  END
END
")
  configure_file(${rc}.in ${rc} COPYONLY)
  add_library(${name} SHARED ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/engine_library.cpp ${rc})
  target_link_libraries(${name} PRIVATE wrapper_flags)
  set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name}
    RUNTIME_OUTPUT_DIRECTORY ${engine_library_dir})
endfunction()
