# Native (Linux) tree: the core, ulktool, the native tests and the benchmarks.
find_package(PkgConfig REQUIRED)
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)

# Real flight computers off Windows go through hidapi (its hidraw backend on
# Linux). Without it the build still works, with a bus that has no devices.
option(ULKUSB_HIDAPI "Use hidapi for real devices where it is found" ON)
if(ULKUSB_HIDAPI)
  pkg_check_modules(HIDAPI QUIET IMPORTED_TARGET hidapi-hidraw)
  if(HIDAPI_FOUND)
    set_property(SOURCE ${CMAKE_SOURCE_DIR}/device/HidHostHidapiLibrary.cpp
                 APPEND PROPERTY COMPILE_DEFINITIONS ULK_HIDAPI_HIDRAW=1)
  else()
    pkg_check_modules(HIDAPI QUIET IMPORTED_TARGET hidapi)
  endif()
endif()
if(HIDAPI_FOUND)
  # Only the files that choose or bind the host know of hidapi.
  target_link_libraries(ulkcore PRIVATE ${HIDAPI_LINK_LIBRARIES})
  set_property(SOURCE ${CMAKE_SOURCE_DIR}/device/HidHostHidapiLibrary.cpp
               APPEND PROPERTY INCLUDE_DIRECTORIES ${HIDAPI_INCLUDE_DIRS})
  set_property(SOURCE ${CMAKE_SOURCE_DIR}/device/HidHostHidapiLibrary.cpp ${CMAKE_SOURCE_DIR}/device/HidHostHidapi.cpp
               ${CMAKE_SOURCE_DIR}/device/NoDeviceHost.cpp ${CMAKE_SOURCE_DIR}/tests/packaging/DebianPackageTest.cpp
               APPEND PROPERTY COMPILE_DEFINITIONS ULK_HAVE_HIDAPI=1)
  message(STATUS "hidapi: ${HIDAPI_LIBRARIES} ${HIDAPI_VERSION}")
else()
  message(STATUS "hidapi not found: ulktool will see no real devices")
endif()

set(CAIRO_SOURCES)
foreach(dir ${CORE_DIRS})
  file(GLOB dir_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*Cairo.cpp)
  list(APPEND CAIRO_SOURCES ${dir_sources})
endforeach()
if(CAIRO_SOURCES)
  add_library(ulkraster STATIC ${CAIRO_SOURCES})
  target_link_libraries(ulkraster PUBLIC ulkcore PkgConfig::CAIRO)
  target_compile_definitions(ulkraster PUBLIC ULK_HAVE_CAIRO=1)
else()
  add_library(ulkraster INTERFACE)
  target_link_libraries(ulkraster INTERFACE ulkcore)
endif()

add_executable(ulktool ${TOOL_SOURCES})
target_link_libraries(ulktool PRIVATE ulkraster)

# `cmake --install` puts ulktool, its manual page, the copyright file and the
# udev rule that lets the user at the seat open the flight computer's hidraw nodes. udev reads rules from
# /usr/lib/udev/rules.d and /usr/local/lib/udev/rules.d alike.
set(ULKUSB_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING "Where the udev rule is installed, below the prefix")
install(TARGETS ulktool RUNTIME DESTINATION bin)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/linux/70-ulkusb.rules DESTINATION ${ULKUSB_UDEV_RULES_DIR})
# Installing never builds the tests; the deb target below builds what it packs.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(${CMAKE_SOURCE_DIR}/packaging/linux/package.cmake)

find_package(GTest REQUIRED)
add_executable(ulk_tests ${NATIVE_TEST_SOURCES})
target_link_libraries(ulk_tests PRIVATE ulkraster GTest::gtest GTest::gtest_main)
target_compile_definitions(ulk_tests PRIVATE
  ULK_SOURCE_DIR="${CMAKE_SOURCE_DIR}" ULKTOOL_PATH="$<TARGET_FILE:ulktool>"
  ULK_BINARY_DIR="${CMAKE_BINARY_DIR}" ULK_CPACK_COMMAND="${CMAKE_CPACK_COMMAND}"
  ULK_CMAKE_COMMAND="${CMAKE_COMMAND}")
# The package test packs this tree: the tool and its documents.
add_dependencies(ulk_tests ulktool ulktool_docs)

file(GLOB BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
# The Windows benchmarks are built in the Windows tree.
list(FILTER BENCH_SOURCES EXCLUDE REGEX "Win32\\.cpp$")
find_package(benchmark QUIET)
if(BENCH_SOURCES AND benchmark_FOUND)
  add_executable(ulk_bench ${BENCH_SOURCES})
  target_link_libraries(ulk_bench PRIVATE ulkraster benchmark::benchmark)
endif()
