# Included from tests/CMakeLists.txt: static analysis of the program's
# sources with the Windows cross headers. Both read the generated version.h
# of this build, and fail on any finding.
add_test(NAME static_cppcheck
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run_cppcheck.sh ${CMAKE_BINARY_DIR})
add_test(NAME static_clang_tidy
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run_clang_tidy.sh ${CMAKE_BINARY_DIR})
set_tests_properties(static_cppcheck static_clang_tidy PROPERTIES
  ENVIRONMENT HALVOTREN_BUILD=${CMAKE_BINARY_DIR} TIMEOUT 300 LABELS static)
