# The program's version is written once, in VERSION, as the program shows it:
# M.mm with both parts in hex, as it counts (4.09, 4.0a, ... 4.0f, 4.10).
# Everything else takes it from here: the generated ProgramVersion.h (title,
# About box, Windows version resource), the Windows manifest and the Debian
# package; scripts/package-windows reads the file itself.
#
#   cmake -DULKUSB_VERSION=4.0a -P cmake/Version.cmake   prints the Debian version

# A Debian version that dpkg orders as the program counts: the decimal value of
# the major, then of each hex digit of the minor (4.09 -> 4.0.9, 4.0a -> 4.0.10,
# 4.10 -> 4.1.0). dpkg compares digit runs as numbers, never hex letters as digits.
function(ulkusb_debian_version version out)
  if(NOT version MATCHES "^([0-9a-f]+)\\.([0-9a-f])([0-9a-f])$")
    message(FATAL_ERROR "version \"${version}\" is not M.mm in lower-case hex")
  endif()
  math(EXPR major "0x${CMAKE_MATCH_1}")
  math(EXPR high "0x${CMAKE_MATCH_2}")
  math(EXPR low "0x${CMAKE_MATCH_3}")
  set(${out} "${major}.${high}.${low}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  ulkusb_debian_version("${ULKUSB_VERSION}" debian)
  execute_process(COMMAND ${CMAKE_COMMAND} -E echo "${debian}")
  return()
endif()

file(STRINGS ${CMAKE_SOURCE_DIR}/VERSION ULKUSB_VERSION LIMIT_COUNT 1)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/VERSION)
ulkusb_debian_version("${ULKUSB_VERSION}" ULKUSB_DEBIAN_VERSION)
string(REGEX MATCH "^([0-9a-f]+)\\.([0-9a-f]+)$" _ "${ULKUSB_VERSION}")
math(EXPR ULKUSB_VERSION_MAJOR "0x${CMAKE_MATCH_1}")
math(EXPR ULKUSB_VERSION_MINOR "0x${CMAKE_MATCH_2}")

set(ULKUSB_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/app/ProgramVersion.h.in ${ULKUSB_GENERATED_DIR}/ProgramVersion.h @ONLY)
