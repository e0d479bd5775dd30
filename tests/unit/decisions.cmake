# The program's decisions, which include no Windows header, and their tests:
# one list for the cross-built unit tests and the native sanitized build.
# Needs HALVOTREN_SOURCE_DIR.
set(DECISION_SOURCES
  ${HALVOTREN_SOURCE_DIR}/watch/transitions.cpp
  ${HALVOTREN_SOURCE_DIR}/watch/firewall_path.cpp
  ${HALVOTREN_SOURCE_DIR}/app/commands.cpp
  ${HALVOTREN_SOURCE_DIR}/core/text_format.cpp
  ${HALVOTREN_SOURCE_DIR}/app/tray_icon.cpp
  ${HALVOTREN_SOURCE_DIR}/core/session.cpp
  ${HALVOTREN_SOURCE_DIR}/update/decimal_to_double.cpp
  ${HALVOTREN_SOURCE_DIR}/update/version_text.cpp
  ${HALVOTREN_SOURCE_DIR}/update/update_signature.cpp
  ${HALVOTREN_SOURCE_DIR}/handover/hand_off.cpp
  ${HALVOTREN_SOURCE_DIR}/installer/closer/closing_task.cpp
  ${HALVOTREN_SOURCE_DIR}/signature/sha512.cpp
  ${HALVOTREN_SOURCE_DIR}/signature/ed25519.cpp)
file(GLOB DECISION_TESTS CONFIGURE_DEPENDS ${HALVOTREN_SOURCE_DIR}/tests/unit/*_test.cpp)
