# The Windows release: Kavex-<version>-windows.zip, made by
#
#   cmake --build build-win32 --target package
#
# (or the same from build-win64). It holds both word sizes, each from its own
# build: x86/ from the i686 build, x64/ from the x86_64 build, each with
# Kavex.dll (stripped, with its version resource), Kavex.lib (MSVC),
# libkavex.dll.a (MinGW), the Kavex.def they were made from and
# kavexctl.exe; beside them include/kavex.h, LICENSE, README.txt and the
# examples. The version is the project's (project() in CMakeLists.txt).
#
# CPack installs the "windows" component of both builds into one staging
# directory (CPACK_INSTALL_CMAKE_PROJECTS). The build of the other word size
# (KAVEX_PACKAGE_X64_BUILD or KAVEX_PACKAGE_X86_BUILD) is configured, when
# it is not yet, and brought up to date by windows_package_other_build.cmake,
# which CPack runs first; so the one command above is all a release needs.
if(NOT WIN32)
  return()
endif()

if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(KAVEX_PACKAGE_ARCH x86)
  set(KAVEX_PACKAGE_OTHER_ARCH x64)
  set(KAVEX_PACKAGE_OTHER_TOOLCHAIN x86_64-w64-mingw32)
  set(KAVEX_PACKAGE_X64_BUILD ${PROJECT_SOURCE_DIR}/build-win64 CACHE PATH
      "The 64-bit Windows build whose files the release package takes (configured when needed)")
  set(KAVEX_PACKAGE_OTHER_BUILD ${KAVEX_PACKAGE_X64_BUILD})
else()
  set(KAVEX_PACKAGE_ARCH x64)
  set(KAVEX_PACKAGE_OTHER_ARCH x86)
  set(KAVEX_PACKAGE_OTHER_TOOLCHAIN i686-w64-mingw32)
  set(KAVEX_PACKAGE_X86_BUILD ${PROJECT_SOURCE_DIR}/build-win32 CACHE PATH
      "The 32-bit Windows build whose files the release package takes (configured when needed)")
  set(KAVEX_PACKAGE_OTHER_BUILD ${KAVEX_PACKAGE_X86_BUILD})
endif()

# ---- what this build puts in the package ------------------------------------------
set(component COMPONENT windows EXCLUDE_FROM_ALL)
install(TARGETS kavex RUNTIME DESTINATION ${KAVEX_PACKAGE_ARCH} ${component}
                     ARCHIVE DESTINATION ${KAVEX_PACKAGE_ARCH} ${component})
if(TARGET kavexctl)
  install(TARGETS kavexctl RUNTIME DESTINATION ${KAVEX_PACKAGE_ARCH} ${component})
else()
  install(CODE "message(FATAL_ERROR \"The release package needs kavexctl.exe: configure with KAVEX_BUILD_TOOLS=ON\")"
          ${component})
endif()
if(KAVEX_LLVM_DLLTOOL)
  install(FILES ${CMAKE_BINARY_DIR}/Kavex.lib DESTINATION ${KAVEX_PACKAGE_ARCH} ${component})
else()
  install(CODE "message(FATAL_ERROR \"The release package needs Kavex.lib, made with llvm-dlltool (Debian: llvm)\")"
          ${component})
endif()
install(FILES ${KAVEX_DEF} DESTINATION ${KAVEX_PACKAGE_ARCH} RENAME Kavex.def ${component})

install(FILES ${PROJECT_SOURCE_DIR}/include/kavex.h DESTINATION include ${component})
# Text files with CR LF, for every Windows editor.
set(VERSION ${PROJECT_VERSION})
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt ${CMAKE_BINARY_DIR}/package/README.txt @ONLY
               NEWLINE_STYLE CRLF)
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${CMAKE_BINARY_DIR}/package/LICENSE @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_BINARY_DIR}/package/LICENSE ${CMAKE_BINARY_DIR}/package/README.txt DESTINATION .
        ${component})
install(FILES ${PROJECT_SOURCE_DIR}/examples/host/host.c ${PROJECT_SOURCE_DIR}/examples/host/read_card.c
        DESTINATION examples/c ${component})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/csharp ${PROJECT_SOURCE_DIR}/examples/pascal
                  ${PROJECT_SOURCE_DIR}/examples/python
        DESTINATION examples ${component} PATTERN __pycache__ EXCLUDE)

# ---- the package --------------------------------------------------------------
set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Kavex)
set(CPACK_PACKAGE_VENDOR Kavex)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_FILE_NAME Kavex-${PROJECT_VERSION}-windows)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Kavex card-reader library for Windows (x86 and x64)")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_STRIP_FILES ON)
if(KAVEX_PACKAGE_ARCH STREQUAL x86)
  set(x86_build ${CMAKE_BINARY_DIR})
  set(x64_build ${KAVEX_PACKAGE_OTHER_BUILD})
else()
  set(x86_build ${KAVEX_PACKAGE_OTHER_BUILD})
  set(x64_build ${CMAKE_BINARY_DIR})
endif()
set(CPACK_INSTALL_CMAKE_PROJECTS "${x86_build};Kavex;windows;/" "${x64_build};Kavex;windows;/")
set(CPACK_INSTALL_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/windows_package_other_build.cmake)
# Read by windows_package_other_build.cmake.
set(CPACK_KAVEX_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_KAVEX_VERSION ${PROJECT_VERSION})
set(CPACK_KAVEX_BUILD_TYPE ${CMAKE_BUILD_TYPE})
set(CPACK_KAVEX_OTHER_ARCH ${KAVEX_PACKAGE_OTHER_ARCH})
set(CPACK_KAVEX_OTHER_BUILD ${KAVEX_PACKAGE_OTHER_BUILD})
set(CPACK_KAVEX_OTHER_TOOLCHAIN ${PROJECT_SOURCE_DIR}/cmake/toolchains/${KAVEX_PACKAGE_OTHER_TOOLCHAIN}.cmake)
include(CPack)
