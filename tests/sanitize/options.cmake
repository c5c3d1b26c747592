# Environment of every test in a sanitizer build (QV_SANITIZE, QV_FUZZ).
#  ASan: stop at the first error; also look for use after return and for
#        globals initialised in the wrong order.
#  UBSan: the build does not recover from undefined behaviour; print the stack.
#  LSan: leaks fail the test, except those the suppressions name (third-party
#        libraries only; each is explained in lsan.supp).
set(tw_sanitize_dir ${CMAKE_SOURCE_DIR}/tests/sanitize)
set(TW_SANITIZER_ENV
  "ASAN_OPTIONS=halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
  "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1"
  "LSAN_OPTIONS=suppressions=${tw_sanitize_dir}/lsan.supp:print_suppressions=0")
