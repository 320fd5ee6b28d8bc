# Helpers shared by tests/module and tests/script: script tests run by
# kx4test.exe under wine, with check.js loaded first.
set(KX4_CHECK_JS ${CMAKE_CURRENT_LIST_DIR}/check.js)
set(KX4_RUN_CHECK ${CMAKE_CURRENT_LIST_DIR}/run_check.sh)

# kx4test check.js <script>; passes when the script's done() found no failure.
function(kx4_script_test name script)
  kx4_wine_test(${name} $<TARGET_FILE:kx4test> ${KX4_CHECK_JS} ${script})
endfunction()

# The same through run_check.sh, which also checks the exit code and the
# printed lines: kx4_checked_test(name <run_check options>... -- <program> <args>...).
function(kx4_checked_test name)
  add_test(NAME ${name} COMMAND ${KX4_RUN_CHECK} ${ARGN})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine ENVIRONMENT "${KX4_WINE_ENV}")
endfunction()
