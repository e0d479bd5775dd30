# Included from tests/CMakeLists.txt. The surrounding build is the cross
# build for Windows, so the native tests get a build of their own with the
# host's clang (no toolchain file) and run directly, without Wine or the
# test bed.
include(ExternalProject)

find_program(HALVOTREN_NATIVE_CC NAMES clang clang-14 REQUIRED)
find_program(HALVOTREN_NATIVE_CXX NAMES clang++ clang++-14 REQUIRED)
set(HALVOTREN_NATIVE_DIR ${CMAKE_BINARY_DIR}/native)

ExternalProject_Add(native_tests
  SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}
  BINARY_DIR ${HALVOTREN_NATIVE_DIR}
  CMAKE_ARGS
    -DCMAKE_C_COMPILER=${HALVOTREN_NATIVE_CC}
    -DCMAKE_CXX_COMPILER=${HALVOTREN_NATIVE_CXX}
    -DCMAKE_BUILD_TYPE=RelWithDebInfo
    -DHALVOTREN_SOURCE_DIR=${PROJECT_SOURCE_DIR}
  INSTALL_COMMAND ""
  BUILD_ALWAYS 1)

# Reports stop the program with a failing status; leaks count as reports.
set(HALVOTREN_SANITIZER_ENVIRONMENT
  "ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_init_order=1"
  "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")

add_test(NAME native_unit_sanitized
  COMMAND ${HALVOTREN_NATIVE_DIR}/halvotren_native_unit_tests --gtest_brief=1)
set_tests_properties(native_unit_sanitized PROPERTIES
  ENVIRONMENT "${HALVOTREN_SANITIZER_ENVIRONMENT}" TIMEOUT 120 LABELS native)

# About a minute of fuzzing; the working copy of the corpus, the log and any
# finding stay in the build tree.
add_test(NAME fuzz_version_file
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run_fuzzer.sh
    ${HALVOTREN_NATIVE_DIR}/version_file_fuzzer
    ${CMAKE_CURRENT_LIST_DIR}/corpus
    ${CMAKE_CURRENT_LIST_DIR}/version_file.dict
    ${HALVOTREN_NATIVE_DIR}/fuzz_version_file
    60)
set_tests_properties(fuzz_version_file PROPERTIES
  ENVIRONMENT "${HALVOTREN_SANITIZER_ENVIRONMENT}" TIMEOUT 300 LABELS native)

# Our signature check against OpenSSL's, 45 seconds; no dictionary.
add_test(NAME fuzz_ed25519
  COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/run_fuzzer.sh
    ${HALVOTREN_NATIVE_DIR}/ed25519_fuzzer
    ${CMAKE_CURRENT_LIST_DIR}/ed25519_corpus
    ""
    ${HALVOTREN_NATIVE_DIR}/fuzz_ed25519
    45)
set_tests_properties(fuzz_ed25519 PROPERTIES
  ENVIRONMENT "${HALVOTREN_SANITIZER_ENVIRONMENT}" TIMEOUT 300 LABELS native)
