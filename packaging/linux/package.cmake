# The Debian package of ulktool: the tool, its udev rule, its manual page, the
# copyright file and the changelog, depending on the libraries it was linked
# with (hidapi's runtime among them).
#   ninja -C build/native deb   ->  build/native/package/ulktool_<version>_<arch>.deb
# The version comes from VERSION (cmake/Version.cmake), in the form dpkg orders
# right; the Debian revision counts packagings of one program version.
set(ULKUSB_MAINTAINER "ULK USB developers <ulkusb-dev@users.noreply.invalid>")
set(ULKUSB_DEBIAN_REVISION 1)
set(ULKUSB_PACKAGE_VERSION "${ULKUSB_DEBIAN_VERSION}-${ULKUSB_DEBIAN_REVISION}")

set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "ulktool")
set(CPACK_PACKAGE_VERSION "${ULKUSB_DEBIAN_VERSION}")
set(CPACK_DEBIAN_PACKAGE_RELEASE "${ULKUSB_DEBIAN_REVISION}")
set(CPACK_PACKAGE_VENDOR "ULK USB")
set(CPACK_PACKAGE_CONTACT "${ULKUSB_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "command-line companion of the ULK USB rocket flight computer")
# Extended description lines stay within 80 columns.
set(CPACK_PACKAGE_DESCRIPTION
    "ulktool talks to the ULK USB flight computer for model rockets over USB: it
reads and writes the device's settings, downloads its flights, fires its
ejection lines, emulates a launch and updates its firmware.

It also turns the data set files of the ULK USB program into CSV, XML, PNG
plots and flight summaries. The package holds the udev rule that lets the
user at the machine use the flight computer without root.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_STRIP_FILES ON)

find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1, libcairo2")
  if(HIDAPI_FOUND)
    string(APPEND CPACK_DEBIAN_PACKAGE_DEPENDS ", libhidapi-hidraw0")
  endif()
endif()

# A flight computer already plugged in gets its access without a replug.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_CURRENT_LIST_DIR}/postinst")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# One package of everything, the Debian-only files (component "debian",
# below) with the rest.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_COMPONENTS_ALL Unspecified debian)

include(CPack)

# --- the documents: made from VERSION, LICENSE and the templates here
set(ULKUSB_PACKAGING_DIR ${CMAKE_BINARY_DIR}/packaging)

# The copyright file in the machine-readable format, its text LICENSE's own.
file(READ ${CMAKE_SOURCE_DIR}/LICENSE license)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/LICENSE)
if(NOT license MATCHES "Copyright \\(c\\) ([^\n]+)\n+(.+)$")
  message(FATAL_ERROR "LICENSE has no copyright line followed by the licence text")
endif()
set(ULKUSB_COPYRIGHT "${CMAKE_MATCH_1}")
string(STRIP "${CMAKE_MATCH_2}" license)
# A field's continuation lines start with a space; an empty one is " .".
string(REPLACE "\n\n" "\n.\n" license "${license}")
string(REPLACE "\n" "\n " license "${license}")
set(ULKUSB_LICENSE_TEXT " ${license}")
configure_file(${CMAKE_CURRENT_LIST_DIR}/copyright.in ${ULKUSB_PACKAGING_DIR}/copyright @ONLY)

# The changelog's entry is dated when the version was last set, so the same
# sources always make the same file.
find_package(Git QUIET)
if(GIT_FOUND)
  execute_process(COMMAND ${GIT_EXECUTABLE} -C ${CMAKE_SOURCE_DIR} log -1 --format=%cD -- VERSION
                  OUTPUT_VARIABLE ULKUSB_CHANGELOG_DATE OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT ULKUSB_CHANGELOG_DATE)
  string(TIMESTAMP ULKUSB_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
endif()
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${ULKUSB_PACKAGING_DIR}/changelog.Debian @ONLY)
configure_file(${CMAKE_CURRENT_LIST_DIR}/ulktool.1.in ${ULKUSB_PACKAGING_DIR}/ulktool.1 @ONLY)

# Compressed as Debian wants them: gzip -9, without a name or a time stamp.
set(ULKUSB_PACKAGE_DOCS)
foreach(name changelog.Debian ulktool.1)
  set(plain ${ULKUSB_PACKAGING_DIR}/gz/${name})
  add_custom_command(OUTPUT ${plain}.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${ULKUSB_PACKAGING_DIR}/${name} ${plain}
    COMMAND gzip -9nf ${plain}
    DEPENDS ${ULKUSB_PACKAGING_DIR}/${name}
    VERBATIM)
  list(APPEND ULKUSB_PACKAGE_DOCS ${plain}.gz)
endforeach()
add_custom_target(ulktool_docs ALL DEPENDS ${ULKUSB_PACKAGE_DOCS})

install(FILES ${ULKUSB_PACKAGING_DIR}/gz/ulktool.1.gz DESTINATION share/man/man1)
install(FILES ${ULKUSB_PACKAGING_DIR}/copyright DESTINATION share/doc/ulktool)
# What only a Debian package wants stays out of `cmake --install`.
install(FILES ${ULKUSB_PACKAGING_DIR}/gz/changelog.Debian.gz DESTINATION share/doc/ulktool
        COMPONENT debian EXCLUDE_FROM_ALL)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/ulktool.lintian-overrides DESTINATION share/lintian/overrides
        RENAME ulktool COMPONENT debian EXCLUDE_FROM_ALL)

add_custom_target(deb
  COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake -B ${CMAKE_BINARY_DIR}/package
  COMMENT "Packing ulktool into ${CMAKE_BINARY_DIR}/package"
  VERBATIM)
add_dependencies(deb ulktool ulktool_docs)
