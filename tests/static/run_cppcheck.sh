#!/usr/bin/env bash
# cppcheck over the program's sources, in the configuration the cross build
# compiles: 32-bit ANSI Windows, XP's API level, mingw-w64. Fails on any
# finding not suppressed, with its reason, in cppcheck-suppressions.txt.
#   run_cppcheck.sh [BUILD_DIR]    (or HALVOTREN_BUILD=BUILD_DIR)
#
# The Windows API comes from cppcheck's own windows library description
# rather than the mingw-w64 headers: cppcheck's parser stops with syntax
# errors in those headers, and its manual advises against feeding it system
# headers at all.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${1:-${HALVOTREN_BUILD:-$root/build}}"
if [ ! -f "$build/generated/version.h" ]; then
  echo "run_cppcheck: $build/generated/version.h is missing; configure the build first" >&2
  exit 1
fi

cd "$root"
# Paths relative to the root, so the suppressions can name files.
cppcheck \
  --enable=warning,style,performance,portability \
  --inline-suppr \
  --error-exitcode=1 \
  --library=windows \
  --platform=win32A \
  --std=c++17 --language=c++ \
  -D_WIN32 -D__MINGW32__ -D__i386__ \
  -D_WIN32_WINNT=0x0501 -DWINVER=0x0501 -DNTDDI_VERSION=0x05010200 \
  -I. -I"$build/generated" -I"$build/generated/update-key" \
  --suppressions-list="$here/cppcheck-suppressions.txt" \
  --quiet \
  --template='{file}:{line}:{column}: {severity}: {message} [{id}]' \
  app watch update handover core signature installer/closer
echo "run_cppcheck: no findings"
