# The fuzzing tree (scripts/fuzz, ./test): the portable core under ASan and
# UBSan with libFuzzer's coverage, and one executable per fuzz/fuzz_*.cpp.
if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "ULKUSB_FUZZ needs clang (libFuzzer): configure with CMAKE_CXX_COMPILER=clang++")
endif()
set(FUZZ_SANITIZERS -fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
target_compile_options(ulkcore PRIVATE ${FUZZ_SANITIZERS} -fsanitize=fuzzer-no-link
                       -fsanitize-coverage-ignorelist=${CMAKE_SOURCE_DIR}/fuzz/coverage-ignore.txt)
target_link_options(ulkcore INTERFACE -fsanitize=address,undefined)

file(GLOB FUZZ_TARGET_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/fuzz_*.cpp)
foreach(source ${FUZZ_TARGET_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_compile_options(${name} PRIVATE ${FUZZ_SANITIZERS} -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ulkcore)
endforeach()

# ulktool's command line: the tool's own files, without its main().
set(FUZZ_TOOL_SOURCES ${TOOL_SOURCES})
list(FILTER FUZZ_TOOL_SOURCES EXCLUDE REGEX "/tool/Main\\.cpp$")
target_sources(fuzz_tool PRIVATE ${FUZZ_TOOL_SOURCES})
