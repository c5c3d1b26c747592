# Sanitizer and fuzzing builds (each in a build directory of its own).
#
#  QV_SANITIZE  the whole tree and its tests with AddressSanitizer and
#               UndefinedBehaviorSanitizer. Undefined behaviour is not recovered
#               from, so a test that reaches it fails. Built with gcc (the default
#               compiler): its shared runtime also serves the plug-in module, which
#               is linked with --no-undefined. The tests get the sanitizer options
#               and suppressions of tests/sanitize/ through their environment.
#  QV_FUZZ      the libFuzzer targets of tests/fuzz, with clang
#               (CC=clang CXX=clang++): every library they link is instrumented
#               for coverage, and built with the same sanitizers.
option(QV_SANITIZE "Build everything with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(QV_FUZZ "Build the libFuzzer targets of tests/fuzz (clang)" OFF)

if(QV_SANITIZE OR QV_FUZZ)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(QV_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT CMAKE_C_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "QV_FUZZ needs clang's libFuzzer: configure with CC=clang CXX=clang++")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
