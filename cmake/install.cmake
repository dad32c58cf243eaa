# Install rules (GNUInstallDirs), included from the top CMakeLists.txt:
#
#   lib/libkavex.so.1.0.0, libkavex.so.1, libkavex.so     the library
#   include/kavex.h                                       its interface
#   lib/pkgconfig/kavex.pc                                pkg-config --cflags --libs kavex
#   lib/cmake/Kavex/                                      find_package(Kavex) -> Kavex::kavex
#   bin/kavexctl, share/man/man1/kavexctl.1.gz,
#   share/bash-completion/completions/kavexctl            the tool
#   share/doc/kavex/copyright, changelog.gz               what a Debian package carries
#
# Inside another project (add_subdirectory) the parent installs the library,
# the header, the package files, kavexctl and its completion; the changelog,
# the copyright file and the man page (which need gzip and help2man at build
# time) are Kavex's own package's, made and installed only when Kavex is the
# top-level project.
#
# (lib is the multiarch directory, lib/x86_64-linux-gnu, for prefix /usr on
# Debian.) On Windows: bin/Kavex.dll, lib/libkavex.dll.a and the same header
# and package files.
include(CMakePackageConfigHelpers)

set(KAVEX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Kavex)

install(TARGETS kavex EXPORT KavexTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/kavex.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# The CMake package: relocatable, found under any prefix it is installed in.
install(EXPORT KavexTargets NAMESPACE Kavex:: DESTINATION ${KAVEX_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/KavexConfig.cmake.in
  ${PROJECT_BINARY_DIR}/package/KavexConfig.cmake INSTALL_DESTINATION ${KAVEX_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/package/KavexConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/package/KavexConfig.cmake
              ${PROJECT_BINARY_DIR}/package/KavexConfigVersion.cmake
        DESTINATION ${KAVEX_CMAKE_DIR})

# kavex.pc names the prefix that the files are installed under, which is
# known only when installing (cmake --install --prefix, cpack): the file is
# written then, from a template that holds everything else.
foreach(dir LIBDIR INCLUDEDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
    set(KAVEX_PC_${dir} "${CMAKE_INSTALL_${dir}}")
  else()
    set(KAVEX_PC_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
  endif()
endforeach()
set(KAVEX_PC_PREFIX "@KAVEX_INSTALL_PREFIX@")
configure_file(${PROJECT_SOURCE_DIR}/cmake/kavex.pc.in ${PROJECT_BINARY_DIR}/package/kavex.pc.in @ONLY)
install(CODE "
  set(KAVEX_INSTALL_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file(\"${PROJECT_BINARY_DIR}/package/kavex.pc.in\" \"${PROJECT_BINARY_DIR}/package/kavex.pc\" @ONLY)")
install(FILES ${PROJECT_BINARY_DIR}/package/kavex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Debian's copyright file and changelog (native package: changelog.gz).
if(PROJECT_IS_TOP_LEVEL)
  set(KAVEX_PACKAGE_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/kavex)
  add_custom_command(OUTPUT ${PROJECT_BINARY_DIR}/package/changelog.gz
    COMMAND ${CMAKE_COMMAND} -DINPUT=${PROJECT_SOURCE_DIR}/packaging/debian/changelog
            -DOUTPUT=${PROJECT_BINARY_DIR}/package/changelog.gz -P ${PROJECT_SOURCE_DIR}/cmake/gzip.cmake
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/debian/changelog ${PROJECT_SOURCE_DIR}/cmake/gzip.cmake
    VERBATIM)
  add_custom_target(kavex_changelog ALL DEPENDS ${PROJECT_BINARY_DIR}/package/changelog.gz)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright ${PROJECT_BINARY_DIR}/package/changelog.gz
          DESTINATION ${KAVEX_PACKAGE_DOCDIR})
endif()

if(TARGET kavexctl)
  install(TARGETS kavexctl RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

  # Bash completion: where bash-completion looks for it on demand.
  set(KAVEX_BASH_COMPLETION_DIR ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions
      CACHE STRING "Where kavexctl's bash completion is installed")
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/bash-completion/kavexctl DESTINATION ${KAVEX_BASH_COMPLETION_DIR})

  # The man page, made by help2man from kavexctl's own --help and --version
  # (run on the build machine: not for the Windows builds' kavexctl.exe),
  # with the help of each command (cmake/manpage.cmake).
  if(PROJECT_IS_TOP_LEVEL)
    find_program(KAVEX_HELP2MAN help2man)
  endif()
  if(CMAKE_CROSSCOMPILING OR NOT PROJECT_IS_TOP_LEVEL)
    # kavexctl.exe does not run on the build machine: no man page there;
    # nor inside another project, whose packaging is its own.
  elseif(KAVEX_HELP2MAN)
    set(man ${PROJECT_BINARY_DIR}/man/kavexctl.1.gz)
    add_custom_command(OUTPUT ${man}
      COMMAND ${CMAKE_COMMAND} -DHELP2MAN=${KAVEX_HELP2MAN} -DPROGRAM=$<TARGET_FILE:kavexctl>
              -DINCLUDE=${PROJECT_SOURCE_DIR}/packaging/kavexctl.h2m -DOUTPUT=${man}
              -P ${PROJECT_SOURCE_DIR}/cmake/manpage.cmake
      DEPENDS kavexctl ${PROJECT_SOURCE_DIR}/packaging/kavexctl.h2m ${PROJECT_SOURCE_DIR}/cmake/manpage.cmake
              ${PROJECT_SOURCE_DIR}/cmake/gzip.cmake
      COMMENT "Writing kavexctl's man page with help2man"
      VERBATIM)
    add_custom_target(kavexctl_man ALL DEPENDS ${man})
    install(FILES ${man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  else()
    message(STATUS "Kavex: help2man not found, kavexctl's man page is not built (Debian: help2man)")
  endif()
endif()
