# Windows tree: UlkUsb.exe, ulktool.exe and the Win32 tests, run under Wine.
# The C++ runtime is linked statically so each exe runs on a bare Windows.
add_compile_definitions(UNICODE _UNICODE NOMINMAX _WIN32_WINNT=0x0601)
set(WIN_LINK_OPTIONS -static -static-libgcc -static-libstdc++)
set(WIN_SYSTEM_LIBS setupapi hid gdiplus ddraw dxguid comctl32 comdlg32 gdi32 user32 ole32 uuid)

# The core calls into the Win32 host (the platform's HID), so both are one library here.
target_sources(ulkcore PRIVATE ${WIN32_SOURCES})
target_link_libraries(ulkcore PUBLIC ${WIN_SYSTEM_LIBS})
add_library(ulkwin32 INTERFACE)
target_link_libraries(ulkwin32 INTERFACE ulkcore)

add_executable(ulktool ${TOOL_SOURCES})
target_link_libraries(ulktool PRIVATE ulkwin32)
target_link_options(ulktool PRIVATE ${WIN_LINK_OPTIONS})

# The resources (menu, dialog templates, string table, icons, bitmap) go into
# the program and into the Win32 tests, which open the real dialogs.
enable_language(RC)
file(GLOB RC_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/*.rc)
# The manifest carries the version, so it is made from VERSION beside ProgramVersion.h.
configure_file(${CMAKE_SOURCE_DIR}/resources/UlkUsb.manifest.in ${ULKUSB_GENERATED_DIR}/UlkUsb.manifest @ONLY)
set(CMAKE_RC_FLAGS "${CMAKE_RC_FLAGS} -I${CMAKE_SOURCE_DIR} -I${CMAKE_SOURCE_DIR}/resources -I${ULKUSB_GENERATED_DIR}")
# windres reports no header dependencies: the files the script includes are named here.
file(GLOB RC_HEADERS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/resources/*.h)
list(APPEND RC_HEADERS ${ULKUSB_GENERATED_DIR}/ProgramVersion.h ${ULKUSB_GENERATED_DIR}/UlkUsb.manifest)
set_source_files_properties(${RC_SOURCES} PROPERTIES OBJECT_DEPENDS "${RC_HEADERS}")

if(EXISTS ${CMAKE_SOURCE_DIR}/app/WinMainWin32.cpp)
  add_executable(UlkUsb WIN32 ${CMAKE_SOURCE_DIR}/app/WinMainWin32.cpp ${RC_SOURCES})
  target_link_libraries(UlkUsb PRIVATE ulkwin32)
  target_link_options(UlkUsb PRIVATE ${WIN_LINK_OPTIONS})
endif()

# GoogleTest from Debian's sources, built with this compiler.
set(GTEST_SRC /usr/src/googletest)
set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SRC} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
if(WIN32_TEST_SOURCES)
  add_executable(ulk_win32_tests ${WIN32_TEST_SOURCES} ${CMAKE_SOURCE_DIR}/tests/QuietTrace.cpp ${RC_SOURCES})
  target_link_libraries(ulk_win32_tests PRIVATE ulkwin32 gtest gtest_main)
  target_link_options(ulk_win32_tests PRIVATE ${WIN_LINK_OPTIONS})
  target_compile_definitions(ulk_win32_tests PRIVATE ULK_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()

# A screenshot helper for ./run and the screenshot test.
add_executable(ulkshot ${CMAKE_SOURCE_DIR}/tests/win32/tools/ScreenshotWin32.cpp)
target_link_libraries(ulkshot PRIVATE gdiplus gdi32 user32)
target_link_options(ulkshot PRIVATE ${WIN_LINK_OPTIONS} -municode)

# Benchmarks of the Windows drawing, run under Wine (see README).
file(GLOB WIN32_BENCH_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/bench/*Win32.cpp)
foreach(source ${WIN32_BENCH_SOURCES})
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE ulkwin32)
  target_link_options(${name} PRIVATE ${WIN_LINK_OPTIONS})
endforeach()
