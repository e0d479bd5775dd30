# Derives the fixed four-part version of the version block from the decimal
# version: 1.05 becomes 1,0,5,0 and 1.1 becomes 1,1,0,0. At most 999.999:
# the program prints its version with msvcrt's %g, which writes numbers of
# 1000 and more differently from the C standard's (three exponent digits).
if(NOT HALVOTREN_VERSION MATCHES "^([0-9]|[1-9][0-9]|[1-9][0-9][0-9])\\.([0-9])([0-9]?)([0-9]?)$")
  message(FATAL_ERROR "HALVOTREN_VERSION must look like 1.05 and stay below 1000, not ${HALVOTREN_VERSION}")
endif()
set(HALVOTREN_VERSION_FIXED "${CMAKE_MATCH_1}")
foreach(_index 2 3 4)
  set(_digit "${CMAKE_MATCH_${_index}}")
  if(_digit STREQUAL "")
    set(_digit 0)
  endif()
  string(APPEND HALVOTREN_VERSION_FIXED ",${_digit}")
endforeach()
