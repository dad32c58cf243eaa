# Run by CPack before it installs the two Windows builds into the release
# package (cmake/windows_package.cmake): makes sure that the build of the
# other word size exists, comes from the same sources and version, and is up
# to date. A build that does not exist yet is configured here, without tests.
set(other ${CPACK_KAVEX_OTHER_BUILD})
set(cache ${other}/CMakeCache.txt)

if(NOT EXISTS ${cache})
  message(STATUS "Kavex package: configuring the ${CPACK_KAVEX_OTHER_ARCH} build in ${other}")
  execute_process(
    COMMAND ${CMAKE_COMMAND} -S ${CPACK_KAVEX_SOURCE_DIR} -B ${other} --toolchain ${CPACK_KAVEX_OTHER_TOOLCHAIN}
            -DCMAKE_BUILD_TYPE=${CPACK_KAVEX_BUILD_TYPE} -DKAVEX_BUILD_TESTS=OFF
    RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "Kavex package: the ${CPACK_KAVEX_OTHER_ARCH} build in ${other} could not be configured")
  endif()
endif()

file(STRINGS ${cache} home REGEX "^CMAKE_HOME_DIRECTORY:INTERNAL=")
file(STRINGS ${cache} version REGEX "^CMAKE_PROJECT_VERSION:STATIC=")
string(REGEX REPLACE "^[^=]*=" "" home "${home}")
string(REGEX REPLACE "^[^=]*=" "" version "${version}")
if(NOT home STREQUAL CPACK_KAVEX_SOURCE_DIR OR NOT version STREQUAL CPACK_KAVEX_VERSION)
  message(FATAL_ERROR "Kavex package: ${other} is a build of ${home} version ${version}, not of "
                      "${CPACK_KAVEX_SOURCE_DIR} version ${CPACK_KAVEX_VERSION}; remove it or point "
                      "KAVEX_PACKAGE_X64_BUILD / KAVEX_PACKAGE_X86_BUILD at another directory")
endif()

message(STATUS "Kavex package: bringing the ${CPACK_KAVEX_OTHER_ARCH} build in ${other} up to date")
execute_process(COMMAND ${CMAKE_COMMAND} --build ${other} --target kavex kavexctl RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "Kavex package: the ${CPACK_KAVEX_OTHER_ARCH} build in ${other} did not build")
endif()
