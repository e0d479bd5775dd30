#!/usr/bin/env bash
# Checks a published release against this checkout, which should be the
# commit its buildinfo names: builds the release again from it, with the
# buildinfo's version, time and update key, and compares what users
# download with what this source gives, part by part.
#
#   verify-release.sh [--build-dir DIR] [--expect-key PEM_OR_FINGERPRINT] DOWNLOADS
#
# DOWNLOADS holds what release.sh laid out: Halvotren-<version>.msi, its
# .sig when the release has an update key, halvotren.ver and
# Halvotren-<version>.buildinfo. The rebuild is made in a temporary folder,
# or in DIR, which is kept; DIR given again is built only as far as
# something changed, so one rebuild serves several checks.
#
# Each part prints ok or what differs; the exit status is 0 only when every
# part is ok:
#   the program           the exe in the package, its Authenticode signature
#                         removed, is the rebuilt exe, byte for byte, and it
#                         is signed or not as the buildinfo says
#   the package           read as Windows Installer reads it, and refused
#                         when it is ambiguous or malformed, it holds every
#                         entry of a package rebuilt around the published
#                         exe, and no other, each with the same name, type
#                         and bytes; only the signature's two streams are
#                         set aside, once they are of the form Authenticode
#                         writes, and they are there or not as the
#                         buildinfo's Authenticode field (signed or none,
#                         which it must hold) says
#   halvotren.ver         is the text release.sh writes for that package
#   the update signature  verifies over the package with the buildinfo's
#                         key, which is the key built into the program
#   the update key        its SHA-256 fingerprint, and under it the base URL
#                         the release sends updates to; with --expect-key (the
#                         publisher's public key as PEM, or its fingerprint)
#                         a different key fails. Without it the check proves
#                         that the release is what its buildinfo and commit
#                         build, not who published it.
# Then it names who signed the program and the package with Authenticode
# (signer, issuer, timestamp), which it sets aside: Windows checks those.
# A buildinfo naming package versions other than this machine's, or another
# commit, gives a warning first: that is the usual cause of a difference.
set -euo pipefail
source "$(dirname "$0")/build.sh"
source "$HALVOTREN_ROOT/scripts/buildinfo.sh"

usage() {
  echo "usage: verify-release.sh [--build-dir DIR] [--expect-key PEM_OR_FINGERPRINT] DOWNLOADS" >&2
  exit 2
}
fail() {
  echo "verify-release: $*" >&2
  exit 2
}
say() {
  echo "verify-release: $*"
}

# fingerprint: the SHA-256 of the DER public key on standard input.
fingerprint() {
  sha256sum | cut -d' ' -f1
}

build_dir= expected_key=
while [ $# -gt 1 ]; do
  case "$1" in
    --build-dir) build_dir=$(realpath -m "$2"); shift 2 ;;
    --expect-key)
      if [ -f "$2" ]; then
        der=$(openssl pkey -pubin -in "$2" -outform DER 2>/dev/null | base64 -w0) && [ -n "$der" ] ||
          fail "$2 holds no public key openssl reads"
        expected_key=$(base64 -d <<<"$der" | fingerprint)
      else
        expected_key=$(tr -d ': ' <<<"${2,,}")
        [[ "$expected_key" =~ ^[0-9a-f]{64}$ ]] || fail "$2 is neither a public key file nor a SHA-256 fingerprint"
      fi
      shift 2 ;;
    *) usage ;;
  esac
done
[ $# -eq 1 ] && [ -d "$1" ] || usage
downloads=$(realpath "$1")

shopt -s nullglob
infos=("$downloads"/Halvotren-*.buildinfo)
[ ${#infos[@]} -eq 1 ] || fail "$downloads holds no buildinfo, or more than one"
info=${infos[0]}
version=$(buildinfo_field "$info" Version)
epoch=$(buildinfo_field "$info" Source-Date-Epoch)
commit=$(buildinfo_field "$info" Commit)
base_url=$(buildinfo_field "$info" Base-URL)
key=$(buildinfo_field "$info" Update-Key)
authenticode=$(buildinfo_field "$info" Authenticode)
[ "$info" = "$downloads/Halvotren-$version.buildinfo" ] && [[ "$epoch" =~ ^[0-9]+$ ]] && [ -n "$key" ] ||
  fail "$info is not a buildinfo release.sh writes"
# Without it, neither a signature stripped from a signed release nor one
# added to an unsigned one would show.
case "$authenticode" in
  signed | none) ;;
  "") fail "$info has no Authenticode field, or an empty one: it must say signed or none" ;;
  *) fail "$info: its Authenticode field says '$authenticode', not signed or none" ;;
esac
package=$downloads/Halvotren-$version.msi
[ -f "$package" ] || fail "$downloads holds no Halvotren-$version.msi"
# release.sh takes no empty base URL, and the base URL is shown below as
# where updates come from: a control character could hide or rewrite that
# very line.
if [ -z "$base_url" ]; then
  say "the buildinfo's base URL is empty: the release is NOT what this checkout builds"
  exit 1
elif LC_ALL=C grep -q '[^ -~]' <<<"$base_url"; then
  say "the buildinfo's base URL holds a control character or one that is not printable ASCII:" \
    "the release is NOT what this checkout builds"
  exit 1
fi

"$HALVOTREN_ROOT/scripts/install-deps.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
build_dir=${build_dir:-$work/build}

# Before the comparison: what would make an honest rebuild differ.
warn_of_other_inputs() {
  local name built here
  while read -r name built; do
    here=$(installed_version "$name")
    if [ "$here" != "$built" ]; then
      say "warning: the release was built with $name $built, this machine has $here; a difference below may come from that"
    fi
  done < <(buildinfo_packages "$info")
  here=$(checkout_commit)
  if [ "$here" != "$commit" ]; then
    say "warning: the release was built from commit $commit, this checkout is $here; check out the release's commit"
  fi
}

rebuild() {
  local public_key=
  mkdir -p "$build_dir"
  if [ "$key" != none ]; then
    public_key=$build_dir/update-key.pub.pem
    buildinfo_public_key "$info" "$public_key"
  fi
  say "rebuilding Halvotren $version with SOURCE_DATE_EPOCH=$epoch in $build_dir"
  if ! SOURCE_DATE_EPOCH=$epoch halvotren_build_release "$build_dir" "$version" "$public_key" >"$work/build.log" 2>&1; then
    cat "$work/build.log" >&2
    fail "the rebuild failed"
  fi
}

# The published program, found by its name wherever the package installs
# it, and without its signature in $work/program.exe.
published_exe= program_signed=
unpack_program() {
  local found
  msiextract -C "$work/published" "$package" >/dev/null 2>&1 || return 0
  found=$(find "$work/published" -type f -name Halvotren.exe)
  [ "$(wc -l <<<"$found")" = 1 ] && [ -n "$found" ] || return 0
  published_exe=$found
  if osslsigncode remove-signature -in "$published_exe" -out "$work/program.exe" >/dev/null 2>&1; then
    program_signed=signed
  else
    cp "$published_exe" "$work/program.exe"
    program_signed=none
  fi
}

check_program() {
  [ -n "$published_exe" ] || { echo "the package holds no Halvotren.exe msiextract can extract"; return 1; }
  if [ "$program_signed" != "$authenticode" ]; then
    echo "it carries $([ "$program_signed" = signed ] || echo "no ")an Authenticode signature, though the" \
      "buildinfo says the release is $([ "$authenticode" = signed ] || echo "un")signed"
    return 1
  fi
  echo -n "$([ "$program_signed" = signed ] && echo "its signature removed" || echo unsigned), "
  "$HALVOTREN_PYTHON" "$HALVOTREN_ROOT/scripts/compare_release.py" program "$work/program.exe" \
    "$build_dir/Halvotren.exe"
}

check_package() {
  [ -n "$published_exe" ] || { echo "the package holds no Halvotren.exe to rebuild it around"; return 1; }
  "$HALVOTREN_PYTHON" "$HALVOTREN_ROOT/scripts/package.py" --epoch "$epoch" \
    --files-from "$(dirname "$published_exe")" "$build_dir/halvotren.wxs" "$work/around.msi" || return 1
  "$HALVOTREN_PYTHON" "$HALVOTREN_ROOT/scripts/compare_release.py" package "$package" "$work/around.msi" \
    "$authenticode"
}

check_version_file() {
  local expected=$work/layout/downloads/halvotren.ver published=$downloads/halvotren.ver
  [ -f "$published" ] || { echo "there is none"; return 1; }
  "$HALVOTREN_PYTHON" "$HALVOTREN_ROOT/scripts/release_folder.py" "$package" "$version" "$base_url" \
    "$work/layout" >/dev/null || return 1
  cmp -s "$expected" "$published" || { echo "it reads '$(cat -v "$published")', not '$(cat "$expected")'"; return 1; }
}

check_update_signature() {
  local signature=$package.sig
  if [ "$key" = none ]; then
    [ ! -e "$signature" ] || { echo "the buildinfo names no update key, yet there is a .sig"; return 1; }
    echo "none: the release has no update key"
    return 0
  fi
  [ -f "$signature" ] || { echo "there is no $(basename "$signature"), though the release has an update key"; return 1; }
  { printf 'Halvotren update\n%s\n' "$version"; cat "$package"; } >"$work/message"
  openssl pkeyutl -verify -pubin -inkey "$build_dir/update-key.pub.pem" -rawin -in "$work/message" \
    -sigfile "$signature" >/dev/null 2>&1 || { echo "it does not verify with the buildinfo's key"; return 1; }
  [ -n "$published_exe" ] || { echo "the package holds no program to find the key in"; return 1; }
  "$HALVOTREN_PYTHON" "$HALVOTREN_ROOT/scripts/compare_release.py" key "$work/program.exe" \
    "$build_dir/update-key.pub.pem" && echo "the buildinfo's key, the one built into the program"
}

check_update_key() {
  local found
  if [ "$key" = none ]; then
    [ -z "$expected_key" ] || { echo "the release has no update key, --expect-key names $expected_key"; return 1; }
    echo "none: the release has no update key"
    return 0
  fi
  found=$(base64 -d <<<"$key" | fingerprint)
  if [ -z "$expected_key" ]; then
    echo "SHA-256 fingerprint $found; not compared with the publisher's key, as --expect-key would: this check" \
      "proves that the release is what its buildinfo and commit build, not who published it"
  elif [ "$found" = "$expected_key" ]; then
    echo "SHA-256 fingerprint $found, the key --expect-key names"
  else
    echo "SHA-256 fingerprint $found, while --expect-key names $expected_key"
    return 1
  fi
}

# What the Authenticode signature of FILE names, or why it cannot be read.
signer() {
  [ -n "$1" ] || { echo "none that can be read: the package holds no program"; return; }
  "$HALVOTREN_PYTHON" "$HALVOTREN_ROOT/scripts/signer.py" "$1" || true
}

# A check runs as an if's condition, where set -e does not hold: each step
# that can fail ends it itself.
verdict=0 differing=()
report() {  # PART CHECK: the part's verdict, with what the check said
  local said
  if said=$("$2" 2>&1); then
    echo "$1: ok${said:+ ($said)}"
  else
    echo "$1: DIFFERS: ${said:-see above}"
    verdict=1
    differing+=("$1")
  fi
}

say "Halvotren $version, commit $commit, SOURCE_DATE_EPOCH $epoch"
warn_of_other_inputs
rebuild
unpack_program
report "the program" check_program
report "the package" check_package
report "halvotren.ver" check_version_file
report "the update signature" check_update_signature
report "the update key" check_update_key
# Where the release sends its updates, beside the key that must sign them:
# whoever checks a release should see both.
echo "  updates come from: $base_url (the buildinfo's base URL, which halvotren.ver must name)"
say "who signed with Authenticode, as the signatures say (checked by Windows against its roots, not here):"
echo "  the program: $(signer "$published_exe")"
echo "  the package: $(signer "$package")"
if [ "$verdict" = 0 ]; then
  say "the release is what this checkout builds${expected_key:+, with the update key --expect-key names}"
elif [ "${differing[*]}" = "the update key" ]; then
  say "the release is what this checkout builds, but NOT with the update key --expect-key names"
else
  say "the release is NOT what this checkout builds"
fi
exit "$verdict"
