#!/usr/bin/env bash
# clang-tidy over the program's sources, compiled as the cross build does:
# i686 mingw-w64 target and headers, Windows XP's API level, the repository
# root and the build's generated headers on the include path. Fails on any
# warning in the program's own files.
#   run_clang_tidy.sh [BUILD_DIR]    (or HALVOTREN_BUILD=BUILD_DIR)
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
root="$(cd "$here/../.." && pwd)"
build="${1:-${HALVOTREN_BUILD:-$root/build}}"
if [ ! -f "$build/generated/version.h" ]; then
  echo "run_clang_tidy: $build/generated/version.h is missing; configure the build first" >&2
  exit 1
fi

# The win32 variant's C++ headers, as the program's compiler finds them.
# Only the C++ ones: gcc's own builtin headers (stddef.h, intrinsics) would
# clash with clang's, which clang adds itself.
cxx_includes=()
while read -r dir; do
  cxx_includes+=(-isystem "$(realpath "$dir")")
done < <(echo | i686-w64-mingw32-g++-win32 -xc++ -E -v - 2>&1 |
         sed -n '/<\.\.\.> search starts here/,/End of search list/p' |
         sed -n 's|^ \(.*/include/c++.*\)$|\1|p')
if [ ${#cxx_includes[@]} -eq 0 ]; then
  echo "run_clang_tidy: found no C++ include directories of i686-w64-mingw32-g++-win32" >&2
  exit 1
fi

compile_flags=(
  -xc++ -std=c++17 --target=i686-w64-mingw32
  # Only the directories given here: left alone, clang would add the host's
  # /usr/include to the Windows target.
  -nostdinc++ -nostdlibinc
  "${cxx_includes[@]}" -isystem /usr/i686-w64-mingw32/include
  -D_WIN32_WINNT=0x0501 -DWINVER=0x0501 -DNTDDI_VERSION=0x05010200
  -I"$root" -I"$build/generated" -I"$build/generated/update-key"
  # The cross build's warnings, as clang sees them (clang-diagnostic-*).
  -Wall -Wextra -Wshadow -Wconversion -Wno-sign-conversion
)

cd "$root"
mapfile -t sources < <(ls app/*.cpp watch/*.cpp update/*.cpp handover/*.cpp core/*.cpp signature/*.cpp installer/closer/*.cpp)
log="$(mktemp)"
trap 'rm -f "$log"' EXIT
status=0
printf '%s\n' "${sources[@]}" |
  xargs -P "$(nproc)" -I{} \
    clang-tidy --quiet --config-file="$here/.clang-tidy" \
      --header-filter="^$root/(app|watch|update|handover|core|signature|installer/closer)/" {} -- "${compile_flags[@]}" \
  >"$log" 2>&1 || status=$?

# clang prints a count of what it hid in the system headers; that is not a finding.
grep -v -E '^[0-9]+ warnings? (and [0-9]+ errors? )?generated\.$' "$log" || true
if [ "$status" -ne 0 ] || grep -q -E '(warning|error):' "$log"; then
  echo "run_clang_tidy: findings in ${#sources[@]} sources (exit status $status)" >&2
  exit 1
fi
echo "run_clang_tidy: ${#sources[@]} sources, no findings"
