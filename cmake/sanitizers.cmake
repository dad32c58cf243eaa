# Sanitizer and fuzzing builds of the native tree (the test command's tiers
# asan-ubsan, tsan and fuzz configure them with clang):
#
#   -DKAVEX_SANITIZE=address,undefined   every target built and linked with
#                                        these sanitizers; a finding ends the
#                                        program (no recovery)
#   -DKAVEX_SANITIZE=thread              ThreadSanitizer
#   -DKAVEX_BUILD_FUZZERS=ON             the libFuzzer targets of tests/fuzz/
#                                        (clang only); every target is built
#                                        with coverage for libFuzzer
set(KAVEX_SANITIZE "" CACHE STRING "Sanitizers for every target, as -fsanitize= takes them (e.g. address,undefined or thread)")
option(KAVEX_BUILD_FUZZERS "Build the libFuzzer targets of tests/fuzz (needs clang)" OFF)

if(KAVEX_SANITIZE)
  add_compile_options(-fsanitize=${KAVEX_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${KAVEX_SANITIZE})
endif()

if(KAVEX_BUILD_FUZZERS)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "KAVEX_BUILD_FUZZERS needs clang (libFuzzer): configure with "
                        "-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
