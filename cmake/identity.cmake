# The product's version and identifiers, read from identity.env (the one
# place they are written) into CMake variables of the same names, and into
# the header identity.h in the build tree, which the IDL, the resource
# scripts and the tests include:
#   KEY            the GUID bare, as IDL's uuid() takes it
#   KEY_TEXT       L"{GUID}", as CLSIDFromString takes it
#   KEY_COMMAS     a version as a version block's FILEVERSION takes it
#   KEY_STRING     a version as its string table shows it (1.00.0006)
#   KEY            a type library's major.minor bare, as IDL's version() takes it
#   KEY_MAJOR, KEY_MINOR  its two parts, as registration takes them
#   KEY_TEXTS      a quoted list of names as wide strings, comma-separated, to
#                  initialise an array (the CMake variable is a list)
set(identity_file ${CMAKE_CURRENT_LIST_DIR}/../identity.env)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${identity_file})
file(STRINGS ${identity_file} identity_lines REGEX "^[A-Z0-9_]+=")
set(identity_defines "")
foreach(line IN LISTS identity_lines)
  string(REGEX MATCH "^([A-Z0-9_]+)=(.*)$" matched "${line}")
  set(key ${CMAKE_MATCH_1})
  set(value ${CMAKE_MATCH_2})
  set(${key} ${value})
  if(value MATCHES "^[0-9A-F]+-[0-9A-F]+-[0-9A-F]+-[0-9A-F]+-[0-9A-F]+$")
    string(APPEND identity_defines "#define ${key} ${value}\n#define ${key}_TEXT L\"{${value}}\"\n")
  elseif(value MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
    set(major ${CMAKE_MATCH_1})
    set(minor ${CMAKE_MATCH_2})
    set(build ${CMAKE_MATCH_3})
    set(revision ${CMAKE_MATCH_4})
    # The string table shows major.minor.revision, as the published
    # releases did (1.00.0006); the build part stays 0 in every release.
    set(minor2 "${minor}")
    string(LENGTH "${minor2}" n)
    if(n LESS 2)
      set(minor2 "0${minor2}")
    endif()
    set(revision4 "${revision}")
    string(LENGTH "${revision4}" n)
    while(n LESS 4)
      set(revision4 "0${revision4}")
      math(EXPR n "${n} + 1")
    endwhile()
    string(APPEND identity_defines
      "#define ${key}_COMMAS ${major},${minor},${build},${revision}\n"
      "#define ${key}_STRING \"${major}.${minor2}.${revision4}\"\n")
  elseif(value MATCHES "^([0-9]+)\\.([0-9]+)$")
    string(APPEND identity_defines
      "#define ${key} ${value}\n#define ${key}_MAJOR ${CMAKE_MATCH_1}\n#define ${key}_MINOR ${CMAKE_MATCH_2}\n")
  elseif(value MATCHES "^\"([^\"]*)\"$")
    string(REGEX REPLACE " +" ";" ${key} "${CMAKE_MATCH_1}")
    list(TRANSFORM ${key} PREPEND "L\"" OUTPUT_VARIABLE texts)
    list(TRANSFORM texts APPEND "\"")
    list(JOIN texts ", " texts)
    string(APPEND identity_defines "#define ${key}_TEXTS ${texts}\n")
  else()
    message(FATAL_ERROR "identity.env: ${key} is neither a GUID, a version nor a quoted list: ${value}")
  endif()
endforeach()
set(CARDKEEP_IDENTITY_DIR ${CMAKE_BINARY_DIR}/identity)
file(CONFIGURE OUTPUT ${CARDKEEP_IDENTITY_DIR}/identity.h CONTENT
"/* Made by cmake/identity.cmake from identity.env: change that file, not this. */
#ifndef CARDKEEP_IDENTITY_H
#define CARDKEEP_IDENTITY_H
${identity_defines}#endif
" @ONLY)
