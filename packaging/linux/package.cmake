# The Debian package of ulktool: the tool and its udev rule, depending on the
# libraries it was linked with (hidapi's runtime among them).
#   ninja -C build/native deb   ->  build/native/package/ulktool_4.00_<arch>.deb
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "ulktool")
set(CPACK_PACKAGE_VERSION "4.00")
set(CPACK_PACKAGE_VENDOR "ULK USB")
set(CPACK_PACKAGE_CONTACT "ULK USB developers <ulkusb@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Command-line companion of the ULK USB rocket flight computer")
set(CPACK_PACKAGE_DESCRIPTION
    "Reads and writes the flight computer's settings, downloads its flights, updates its firmware and turns data set files into CSV, XML and PNG.")
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

include(CPack)

add_custom_target(deb
  COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake -B ${CMAKE_BINARY_DIR}/package
  COMMENT "Packing ulktool into ${CMAKE_BINARY_DIR}/package"
  VERBATIM)
add_dependencies(deb ulktool)
