# Windows specifics of the kavex target: Kavex.dll with the exports of
# src/reader/kavex.def and a version resource, its import library for MinGW
# (libkavex.dll.a) and the one for MSVC (Kavex.lib) beside it.
#
# 32-bit: the .def names the stdcall-decorated symbols (OpenCom@4, ...);
# --kill-at exports them undecorated. The linker's own import library would
# then name the undecorated symbols, which a caller compiled with __stdcall
# does not reference, so dlltool rebuilds it from the same .def with
# decorated symbols that import the undecorated names.
# 64-bit: there is one calling convention and no decoration; the .def is
# used with the argument sizes stripped.
# Kavex.lib, for MSVC's linker, is a short-format import library made by
# llvm-dlltool: on 32-bit its symbols are the decorated ones (_OpenCom@4)
# with the "undecorate" import name type, so they import OpenCom. Unlike
# libkavex.dll.a it links with /SAFESEH.

enable_language(RC)

# A VERSIONINFO resource with the project version for a Windows target.
function(kavex_add_version_resource target description file_name file_type)
  set(KAVEX_RC_DESCRIPTION "${description}")
  set(KAVEX_RC_FILE_NAME "${file_name}")
  set(KAVEX_RC_FILE_TYPE "${file_type}")
  get_filename_component(KAVEX_RC_INTERNAL_NAME "${file_name}" NAME_WE)
  set(rc ${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/version.rc.in ${rc} @ONLY)
  target_sources(${target} PRIVATE ${rc})
endfunction()

set(KAVEX_DEF_SOURCE ${PROJECT_SOURCE_DIR}/src/reader/kavex.def)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KAVEX_DEF_SOURCE})
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(KAVEX_DEF ${KAVEX_DEF_SOURCE})
  set(KAVEX_KILL_AT -k)
  target_link_options(kavex PRIVATE -Wl,--kill-at)
  set(KAVEX_LLVM_MACHINE i386)
else()
  # The same exports and ordinals, without the suffixes.
  file(STRINGS ${KAVEX_DEF_SOURCE} def_exports REGEX "^[ \t]+[A-Za-z_][A-Za-z0-9_]*@[0-9]+[ \t]+@[0-9]+")
  string(CONCAT def_text
    "; Exports of 64-bit Kavex.dll: the eight functions of include/kavex.h, by name\n"
    "; with fixed ordinals, and nothing else (x64 has one calling convention and\n"
    "; no name decoration).\nLIBRARY Kavex.dll\nEXPORTS\n")
  foreach(line IN LISTS def_exports)
    string(REGEX REPLACE "([A-Za-z_][A-Za-z0-9_]*)@[0-9]+([ \t]+)" "\\1  \\2" line "${line}")
    string(APPEND def_text "${line}\n")
  endforeach()
  set(KAVEX_DEF ${PROJECT_BINARY_DIR}/kavex64.def)
  file(CONFIGURE OUTPUT ${KAVEX_DEF} CONTENT "${def_text}" @ONLY)
  set(KAVEX_KILL_AT)
  set(KAVEX_LLVM_MACHINE i386:x86-64)
endif()

target_sources(kavex PRIVATE ${KAVEX_DEF})
set_target_properties(kavex PROPERTIES
  OUTPUT_NAME Kavex
  PREFIX ""
  ARCHIVE_OUTPUT_NAME kavex
  LINK_DEPENDS ${KAVEX_DEF})
target_link_options(kavex PRIVATE -Wl,--no-undefined -Wl,--exclude-all-symbols)

find_program(KAVEX_DLLTOOL NAMES ${CMAKE_DLLTOOL} ${KAVEX_MINGW_TRIPLET}-dlltool REQUIRED)
add_custom_command(TARGET kavex POST_BUILD
  COMMAND ${KAVEX_DLLTOOL} ${KAVEX_KILL_AT} -d ${KAVEX_DEF} -D Kavex.dll -l $<TARGET_LINKER_FILE:kavex>
  COMMENT "Writing the import library of Kavex.dll"
  VERBATIM)
kavex_add_version_resource(kavex "Kavex card-reader library" Kavex.dll VFT_DLL)

find_program(KAVEX_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 llvm-dlltool-15)
if(KAVEX_LLVM_DLLTOOL)
  add_custom_command(TARGET kavex POST_BUILD
    COMMAND ${KAVEX_LLVM_DLLTOOL} -m ${KAVEX_LLVM_MACHINE} ${KAVEX_KILL_AT} -d ${KAVEX_DEF} -D Kavex.dll
            -l ${CMAKE_BINARY_DIR}/Kavex.lib
    COMMENT "Writing Kavex.lib, the import library of Kavex.dll for MSVC"
    VERBATIM)
else()
  message(WARNING "llvm-dlltool was not found (Debian: llvm): Kavex.lib, the import library for MSVC, "
                  "is not made, and the release package cannot be built")
endif()

# The host examples: Kavex's own, and the Windows tests' (kavex_host); not
# built inside another project unless it builds Kavex's tests.
if(PROJECT_IS_TOP_LEVEL OR KAVEX_BUILD_TESTS)
  add_subdirectory(examples/host)
endif()
