# Debian's build flags (dpkg-buildflags: stack protector, format checks,
# _FORTIFY_SOURCE, RELRO) for the whole native tree: its ulktool is what the
# package ships, and the tests run on that same code. The build type still
# chooses optimisation and debug information, and paths in the debug
# information stay as they are, so -g, -O and the prefix maps are left out.
option(ULKUSB_DPKG_BUILDFLAGS "Build with the flags of dpkg-buildflags where it is found" ON)
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(ULKUSB_DPKG_BUILDFLAGS AND DPKG_BUILDFLAGS)
  function(ulkusb_dpkg_flags name language out)
    # hardening=+all adds immediate binding (-z now) to the defaults.
    execute_process(COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
                            ${DPKG_BUILDFLAGS} --get ${name} OUTPUT_VARIABLE flags
                    OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "dpkg-buildflags --get ${name} failed")
    endif()
    separate_arguments(flags UNIX_COMMAND "${flags}")
    list(FILTER flags EXCLUDE REGEX "^-g|^-O|^-f[a-z]*-prefix-map=")
    string(JOIN " " plain ${flags})
    set(ULKUSB_DPKG_FLAGS_SHOWN "${ULKUSB_DPKG_FLAGS_SHOWN} ${plain}" PARENT_SCOPE)
    # _FORTIFY_SOURCE needs optimisation: a Debug build would warn in every file.
    list(TRANSFORM flags REPLACE "^(-D_FORTIFY_SOURCE.*)$" "$<$<NOT:$<CONFIG:Debug>>:\\1>")
    if(language)
      list(TRANSFORM flags PREPEND "$<$<COMPILE_LANGUAGE:${language}>:")
      list(TRANSFORM flags APPEND ">")
    endif()
    set(${out} ${flags} PARENT_SCOPE)
  endfunction()
  ulkusb_dpkg_flags(CPPFLAGS "" cppflags)
  ulkusb_dpkg_flags(CFLAGS C cflags)
  ulkusb_dpkg_flags(CXXFLAGS CXX cxxflags)
  ulkusb_dpkg_flags(LDFLAGS "" ldflags)
  add_compile_options(${cppflags} ${cflags} ${cxxflags})
  add_link_options(${ldflags})
  message(STATUS "dpkg-buildflags:${ULKUSB_DPKG_FLAGS_SHOWN}")
endif()
