# Native (Linux) tree: the core, ulktool, the native tests and the benchmarks.
find_package(PkgConfig REQUIRED)
pkg_check_modules(CAIRO REQUIRED IMPORTED_TARGET cairo)

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

find_package(GTest REQUIRED)
add_executable(ulk_tests ${NATIVE_TEST_SOURCES})
target_link_libraries(ulk_tests PRIVATE ulkraster GTest::gtest GTest::gtest_main)
target_compile_definitions(ulk_tests PRIVATE
  ULK_SOURCE_DIR="${CMAKE_SOURCE_DIR}" ULKTOOL_PATH="$<TARGET_FILE:ulktool>")
add_dependencies(ulk_tests ulktool)

file(GLOB BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*.cpp)
find_package(benchmark QUIET)
if(BENCH_SOURCES AND benchmark_FOUND)
  add_executable(ulk_bench ${BENCH_SOURCES})
  target_link_libraries(ulk_bench PRIVATE ulkraster benchmark::benchmark)
endif()
