# Compiler and linker settings for every Windows program of the project,
# shared by the main build and the stand-alone builds of its test programs.

# Windows XP: the headers default to Windows 10, which also changes record
# sizes the shell checks.
set(XP_DEFINITIONS _WIN32_WINNT=0x0501 WINVER=0x0501 NTDDI_VERSION=0x05010200)
set(WARNINGS -Wall -Wextra -Werror -Wshadow -Wconversion -Wno-sign-conversion)
# Terminal-server aware: otherwise a terminal server in application mode
# gives GetWindowsDirectory a private folder of the user's, where the
# firewall's control panel and log are not.
set(XP_LINK_OPTIONS
  -static -static-libgcc -static-libstdc++ -Wl,--tsaware
  -Wl,--major-subsystem-version,5,--minor-subsystem-version,1
  -Wl,--major-os-version,5,--minor-os-version,1)

# Every program is stamped with the build's one time, not the clock's: GNU
# ld writes SOURCE_DATE_EPOCH from its environment into the PE header's
# TimeDateStamp (and so its checksum), and the launcher hands it over. A
# change of the time changes the link command, which relinks.
include(${CMAKE_CURRENT_LIST_DIR}/source_date_epoch.cmake)
halvotren_source_date_epoch(${CMAKE_CURRENT_LIST_DIR}/.. HALVOTREN_SOURCE_DATE_EPOCH)
if(CMAKE_VERSION VERSION_LESS 3.21)
  message(FATAL_ERROR "Stamping the programs with the build's time needs CMake 3.21 or later (linker launchers)")
endif()
set(CMAKE_C_LINKER_LAUNCHER ${CMAKE_COMMAND} -E env SOURCE_DATE_EPOCH=${HALVOTREN_SOURCE_DATE_EPOCH})
set(CMAKE_CXX_LINKER_LAUNCHER ${CMAKE_C_LINKER_LAUNCHER})
