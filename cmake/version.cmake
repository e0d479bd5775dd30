# Derives the fixed four-part version of the version block from the decimal
# version: 1.05 becomes 1,0,5,0 and 1.1 becomes 1,1,0,0.
if(NOT HALVOTREN_VERSION MATCHES "^([0-9]+)\\.([0-9])([0-9]?)([0-9]?)$")
  message(FATAL_ERROR "HALVOTREN_VERSION must look like 1.05, not ${HALVOTREN_VERSION}")
endif()
set(HALVOTREN_VERSION_FIXED "${CMAKE_MATCH_1}")
foreach(_index 2 3 4)
  set(_digit "${CMAKE_MATCH_${_index}}")
  if(_digit STREQUAL "")
    set(_digit 0)
  endif()
  string(APPEND HALVOTREN_VERSION_FIXED ",${_digit}")
endforeach()
