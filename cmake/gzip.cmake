# cmake -DINPUT=file -DOUTPUT=file.gz -P gzip.cmake: compresses as Debian
# wants manual pages and changelogs compressed (gzip -9n: best, and without
# the file's name and time, so the result depends on the content alone).
find_program(GZIP gzip REQUIRED)
execute_process(COMMAND ${GZIP} -9 -n -c ${INPUT} OUTPUT_FILE ${OUTPUT} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  file(REMOVE ${OUTPUT})
  message(FATAL_ERROR "gzip ${INPUT} failed: ${result}")
endif()
