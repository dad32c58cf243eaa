# cmake -DHELP2MAN=... -DPROGRAM=kavexctl -DINCLUDE=kavexctl.h2m -DOUTPUT=kavexctl.1.gz -P manpage.cmake
#
# kavexctl's man page, made by help2man from the program's own --help and
# --version. help2man reads only the top-level help, so this adds a COMMANDS
# section with the help of every command that it lists ("kavexctl COMMAND
# --help"): a new command appears in the man page without a change here.
get_filename_component(work ${OUTPUT} DIRECTORY)
file(MAKE_DIRECTORY ${work})

execute_process(COMMAND ${PROGRAM} --help OUTPUT_VARIABLE help RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} --help failed: ${result}")
endif()
string(REGEX MATCH "\ncommands:\n(  [^\n]*\n)+" listed "${help}")
string(REGEX MATCHALL "\n  [a-z][a-z0-9-]*" commands "${listed}")
if(NOT commands)
  message(FATAL_ERROR "${PROGRAM} --help lists no commands")
endif()

file(READ ${INCLUDE} include_text)
string(APPEND include_text "\n[COMMANDS]\n")
foreach(command IN LISTS commands)
  string(STRIP "${command}" command)
  execute_process(COMMAND ${PROGRAM} ${command} --help OUTPUT_VARIABLE text RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${PROGRAM} ${command} --help failed: ${result}")
  endif()
  # Preformatted, as the program prints it; roff's escape character and
  # lines that start with a control character are made literal.
  string(REPLACE "\\" "\\e" text "${text}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" text "${text}")
  string(APPEND include_text ".SS \"kavexctl ${command}\"\n.nf\n${text}.fi\n")
endforeach()
file(WRITE ${work}/kavexctl.h2m "${include_text}")

execute_process(
  COMMAND ${HELP2MAN} --no-info --no-discard-stderr --include ${work}/kavexctl.h2m --output ${work}/kavexctl.1
          ${PROGRAM}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "help2man failed: ${result}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -DINPUT=${work}/kavexctl.1 -DOUTPUT=${OUTPUT}
                        -P ${CMAKE_CURRENT_LIST_DIR}/gzip.cmake RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "compressing the man page failed")
endif()
