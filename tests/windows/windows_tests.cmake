# The Windows branch of the test build (included from tests/CMakeLists.txt).
#
# kavex_tests.exe: the same GoogleTest sources as the native build, apart from
# the tests of the POSIX layer, which is not part of a Windows build.
# kavex_module_test.exe: loads and unloads Kavex.dll.
# Both, and the host example, land beside Kavex.dll, where LoadLibraryA
# finds it. scripts/test-windows.sh runs them under Wine.
# The export check of Kavex.dll runs on the build machine through CTest.

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(gtest_target gtest gtest_main gmock gmock_main)
  # Third-party code: its warnings are not ours to fail on.
  target_compile_options(${gtest_target} PRIVATE -Wno-error)
endforeach()

file(GLOB_RECURSE KAVEX_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
list(FILTER KAVEX_TEST_SOURCES EXCLUDE REGEX "/tests/platform/")
add_executable(kavex_tests ${KAVEX_TEST_SOURCES})
target_include_directories(kavex_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(kavex_tests PRIVATE kavex_core gtest_main gmock)

add_executable(kavex_module_test ${CMAKE_CURRENT_SOURCE_DIR}/windows/module_load_test.c)
target_include_directories(kavex_module_test PRIVATE ${PROJECT_SOURCE_DIR}/include)
add_dependencies(kavex_module_test kavex)

set_target_properties(kavex_tests kavex_module_test kavex_host PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME KavexDllExports
  COMMAND Python3::Interpreter ${CMAKE_CURRENT_SOURCE_DIR}/windows/check_exports.py
          --objdump ${CMAKE_OBJDUMP} --header ${PROJECT_SOURCE_DIR}/include/kavex.h
          --def ${PROJECT_SOURCE_DIR}/src/reader/kavex.def
          $<TARGET_FILE:kavex> $<TARGET_LINKER_FILE:kavex>)
