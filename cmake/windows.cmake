# Windows specifics of the kavex target: Kavex.dll with the exports of
# src/reader/kavex.def, and its import library libkavex.dll.a beside it.
#
# 32-bit: the .def names the stdcall-decorated symbols (OpenCom@4, ...);
# --kill-at exports them undecorated. The linker's own import library would
# then name the undecorated symbols, which a caller compiled with __stdcall
# does not reference, so dlltool rebuilds it from the same .def with
# decorated symbols that import the undecorated names.
# 64-bit: there is one calling convention and no decoration; the .def is
# used with the argument sizes stripped.

set(KAVEX_DEF_SOURCE ${PROJECT_SOURCE_DIR}/src/reader/kavex.def)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${KAVEX_DEF_SOURCE})
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(KAVEX_DEF ${KAVEX_DEF_SOURCE})
  set(KAVEX_KILL_AT -k)
  target_link_options(kavex PRIVATE -Wl,--kill-at)
else()
  file(READ ${KAVEX_DEF_SOURCE} def_text)
  string(REGEX REPLACE "([A-Za-z_][A-Za-z0-9_]*)@[0-9]+" "\\1" def_text "${def_text}")
  set(KAVEX_DEF ${PROJECT_BINARY_DIR}/kavex64.def)
  file(CONFIGURE OUTPUT ${KAVEX_DEF} CONTENT "${def_text}" @ONLY)
  set(KAVEX_KILL_AT)
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

# kavexctl plays readers on pseudo-terminals and loads the library the POSIX
# way; on Windows the host example below takes its place.
set(KAVEX_BUILD_TOOLS OFF)
add_subdirectory(examples/host)
