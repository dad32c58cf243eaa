# The Windows branch of the test build (included from tests/CMakeLists.txt).
#
# kavex_tests.exe: the same GoogleTest sources as the native build. The tests
# of tests/platform/ are written against the Win32 API with Windows'
# expectations, so under Wine they check those expectations against the real
# system (the parts that look inside the POSIX layer are native only).
# kavex_module_test.exe: loads and unloads Kavex.dll.
# register_com_ports.exe: registers COM ports for the checks of kavexctl.exe.
#
# CTest runs the Windows programs under Wine through the emulator wrapper
# configured below (build-winNN/wine-run), one test per process, serially:
# the tests share one fixed map of COM port lines. The tests are discovered
# when CTest runs, not when they are built, as discovery needs Wine too.
# scripts/test-windows.sh sets up the Wine prefix and the lines, then runs
# CTest; the export check of Kavex.dll runs natively.

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(KAVEX_WINE_BITS 32)
  set(KAVEX_WINE /usr/lib/wine/wine)
  set(KAVEX_WINE_ARCH win32)
else()
  set(KAVEX_WINE_BITS 64)
  set(KAVEX_WINE /usr/lib/wine/wine64)
  set(KAVEX_WINE_ARCH win64)
endif()
set(KAVEX_WINE_WORK ${CMAKE_BINARY_DIR}/wine)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/windows/wine-run.in ${CMAKE_BINARY_DIR}/wine-run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${KAVEX_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
foreach(gtest_target gtest gtest_main gmock gmock_main)
  # Third-party code: its warnings are not ours to fail on.
  target_compile_options(${gtest_target} PRIVATE -Wno-error)
endforeach()

file(GLOB_RECURSE KAVEX_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp)
list(FILTER KAVEX_TEST_SOURCES EXCLUDE REGEX "/tests/fuzz/")
add_executable(kavex_tests ${KAVEX_TEST_SOURCES})
target_include_directories(kavex_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_link_libraries(kavex_tests PRIVATE kavex_core gtest_main gmock)
# In a directory of its own: the port configuration file lies beside the
# host executable, and the tests create and count files there.
set_target_properties(kavex_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/testrun)

# register_com_ports.exe: the system's list of COM ports, for kavexctl ports.
add_executable(register_com_ports ${CMAKE_CURRENT_SOURCE_DIR}/windows/register_com_ports.c)

add_executable(kavex_module_test ${CMAKE_CURRENT_SOURCE_DIR}/windows/module_load_test.c)
target_include_directories(kavex_module_test PRIVATE ${PROJECT_SOURCE_DIR}/include)
add_dependencies(kavex_module_test kavex)
# Beside Kavex.dll, where LoadLibraryA finds it.
set_target_properties(kavex_module_test kavex_host register_com_ports PROPERTIES RUNTIME_OUTPUT_DIRECTORY
                                                                          ${CMAKE_BINARY_DIR})

include(GoogleTest)
gtest_discover_tests(kavex_tests DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120 TEST_FILTER "-ChildProcess.Role"
  PROPERTIES RUN_SERIAL TRUE TIMEOUT 120)

find_package(Python3 REQUIRED COMPONENTS Interpreter)
# By path, not as the imported target: CTest would run a target through the
# emulator (Wine), which loses the check's exit status.
add_test(NAME KavexDllExports
  COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_SOURCE_DIR}/windows/check_exports.py
          --objdump ${CMAKE_OBJDUMP} --header ${PROJECT_SOURCE_DIR}/include/kavex.h
          --def ${PROJECT_SOURCE_DIR}/src/reader/kavex.def
          $<TARGET_FILE:kavex> $<TARGET_LINKER_FILE:kavex>)
