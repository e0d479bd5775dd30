# Derives the other forms of the decimal version HALVOTREN_VERSION:
#   HALVOTREN_VERSION_FIXED  the version block's four parts: 1.05 -> 1,0,5,0
#   HALVOTREN_MSI_VERSION    the package's version: 1.05 -> 1.0.5, 1.1 -> 1.1.0
# Windows Installer compares the package version's first three fields, each
# at most 255 for the first two, so a major of at most 255 and at most two
# fraction digits keep one field a digit: the package versions then order
# exactly as the versions compare as numbers (1.05 < 1.09 < 1.1 < 1.15 < 2),
# which the major upgrade relies on to find the older product. A third
# digit would fall outside the compared fields (1.005 and 1.006 would both
# be 1.0.0). The bound also keeps the version below 1000, which msvcrt's %g
# prints differently.
#
# `cmake -DHALVOTREN_VERSION=V -P version.cmake` prints both forms.
if(NOT HALVOTREN_VERSION MATCHES "^(0|[1-9][0-9]?|1[0-9][0-9]|2[0-4][0-9]|25[0-5])(\\.([0-9])([0-9]?))?$")
  message(FATAL_ERROR "HALVOTREN_VERSION must be a number from 0 to 255 with at most two fraction digits "
                      "(such as 1.05, 1.1 or 2), not '${HALVOTREN_VERSION}'")
endif()
set(_major "${CMAKE_MATCH_1}")
set(_tenths "${CMAKE_MATCH_3}")
set(_hundredths "${CMAKE_MATCH_4}")
foreach(_digit _tenths _hundredths)
  if("${${_digit}}" STREQUAL "")
    set(${_digit} 0)
  endif()
endforeach()
set(HALVOTREN_VERSION_FIXED "${_major},${_tenths},${_hundredths},0")
set(HALVOTREN_MSI_VERSION "${_major}.${_tenths}.${_hundredths}")

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  message("${HALVOTREN_VERSION_FIXED} ${HALVOTREN_MSI_VERSION}")
endif()
