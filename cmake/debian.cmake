# The Debian package: `cpack -G DEB` in a build configured with
# -DCMAKE_INSTALL_PREFIX=/usr makes kavex_<version>_<arch>.deb holding
# everything that cmake/install.cmake installs. dpkg-shlibdeps (dpkg-dev)
# works out the dependencies. Lintian's view of it: see
# packaging/debian/lintian-overrides and the README.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kavex)
set(CPACK_PACKAGE_VENDOR "Kavex developers")
set(CPACK_PACKAGE_CONTACT "Kavex developers <kavex@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "card code library for card readers on serial ports")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kavex lets the client programs of a registration system read card codes\n"
    "from card readers on serial (COM) ports through eight C functions:\n"
    "it opens the readers at 1200 baud, polls them for codes of ASCII digits\n"
    "and closes them again, taking the ports from its sealed configuration\n"
    "file when the host names none.\n"
    "\n"
    "This package holds the shared library, its header, pkg-config and CMake\n"
    "package files, and kavexctl, which reads codes, simulates a reader on a\n"
    "pseudo-terminal, lists the serial ports, monitors a reader's line, and\n"
    "edits the port configuration and the registration settings.")
string(REPLACE ";" "" CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_DEBIAN_PACKAGE_DESCRIPTION}")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)  # "libs" is for packages without programs
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# The ldconfig trigger, which Debian wants for a library in /usr/lib, and
# the symbols file: the eight functions, each with the version that brought
# it, from which dpkg-shlibdeps works out what a host depends on.
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/debian/triggers
                                       ${PROJECT_SOURCE_DIR}/packaging/debian/symbols)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_STRIP_FILES ON)
# A stripped install (the package's) also loses the compilers' .comment
# sections, as Debian's dh_strip does.
if(CMAKE_OBJCOPY)
  set(stripped "${CMAKE_INSTALL_LIBDIR}/$<TARGET_FILE_NAME:kavex>")
  if(TARGET kavexctl)
    list(APPEND stripped "${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:kavexctl>")
  endif()
  install(CODE "
    if(CMAKE_INSTALL_DO_STRIP)
      foreach(file ${stripped})
        execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                                \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/\${file}\" COMMAND_ERROR_IS_FATAL ANY)
      endforeach()
    endif()")
endif()
# Everything a plain install gets, and what only the package has: lintian's
# overrides, and a kavexctl without a run path. A plain install's kavexctl
# finds the library through $ORIGIN/../lib<...> (tools/CMakeLists.txt), under
# whatever prefix it is installed; the package's lies in /usr/bin and the
# library in the system's library directory, where Debian wants programs
# without a run path (https://wiki.debian.org/RpathIssue). CPack installs
# this component after the others.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME kavex
        COMPONENT debian EXCLUDE_FROM_ALL)
if(TARGET kavexctl)
  install(CODE "file(RPATH_REMOVE FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/$<TARGET_FILE_NAME:kavexctl>\")"
          COMPONENT debian EXCLUDE_FROM_ALL)
endif()
set(CPACK_INSTALL_CMAKE_PROJECTS "${PROJECT_BINARY_DIR};Kavex;ALL;/" "${PROJECT_BINARY_DIR};Kavex;debian;/")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# A package must hold the files where the package puts them: cpack stops
# when the build was configured for another prefix (kavex.pc is written for
# the package's prefix, but the library directory, lib/<multiarch> for /usr,
# is fixed when configuring).
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/package/CPackOptions.cmake)
file(CONFIGURE OUTPUT ${CPACK_PROJECT_CONFIG_FILE} CONTENT [[
if(CPACK_GENERATOR STREQUAL "DEB" AND NOT "@CMAKE_INSTALL_PREFIX@" STREQUAL CPACK_PACKAGING_INSTALL_PREFIX)
  message(FATAL_ERROR "This build installs into @CMAKE_INSTALL_PREFIX@, the package into "
                      "${CPACK_PACKAGING_INSTALL_PREFIX}: configure it with "
                      "-DCMAKE_INSTALL_PREFIX=${CPACK_PACKAGING_INSTALL_PREFIX} to make the package.")
endif()
]] @ONLY)
include(CPack)
