# Compiler and linker settings for every Windows program of the project,
# shared by the main build and the stand-alone builds of its test programs.

# Windows XP: the headers default to Windows 10, which also changes record
# sizes the shell checks.
set(XP_DEFINITIONS _WIN32_WINNT=0x0501 WINVER=0x0501 NTDDI_VERSION=0x05010200)
set(WARNINGS -Wall -Wextra -Werror -Wshadow -Wconversion -Wno-sign-conversion)
set(XP_LINK_OPTIONS
  -static -static-libgcc -static-libstdc++
  -Wl,--major-subsystem-version,5,--minor-subsystem-version,1
  -Wl,--major-os-version,5,--minor-os-version,1)
