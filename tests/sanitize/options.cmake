# Environment of every test in a sanitizer build (QV_SANITIZE, QV_FUZZ).
#  ASan: stop at the first error; also look for use after return and for
#        globals initialised in the wrong order.
#  UBSan: the build does not recover from undefined behaviour; print the stack.
#  LSan: leaks fail the test, except those the suppressions name (third-party
#        libraries only; each is explained in lsan.supp).
set(tw_sanitize_dir ${CMAKE_SOURCE_DIR}/tests/sanitize)
set(TW_ASAN_OPTIONS
  "halt_on_error=1:detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1")
set(TW_SANITIZER_ENV
  "ASAN_OPTIONS=${TW_ASAN_OPTIONS}"
  "UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1"
  "LSAN_OPTIONS=suppressions=${tw_sanitize_dir}/lsan.supp:print_suppressions=0")

# The loader's test unloads the structure toolkit, whose leaks can then only be
# told by the loader's frame below them (lsan.supp).
set(TW_SANITIZER_FULL_STACK_TESTS test_module_loader)

# tw_sanitizer_full_stacks(test): records whole allocation stacks, through
# libraries built without frame pointers, so that a suppression can name a
# frame of ours below them (slow: only for tests that need it).
function(tw_sanitizer_full_stacks test)
  set(env ${TW_TEST_ENV})
  list(FILTER env EXCLUDE REGEX "^ASAN_OPTIONS=")
  list(APPEND env "ASAN_OPTIONS=${TW_ASAN_OPTIONS}:fast_unwind_on_malloc=0")
  set_tests_properties(${test} PROPERTIES ENVIRONMENT "${env}")
endfunction()
