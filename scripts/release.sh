#!/usr/bin/env bash
# Builds a release, checks it and lays out the folder a maker uploads to the
# web server: downloads/ with halvotren.ver (the version and the package's
# URL), the package and the package's update signature.
#
#   release.sh --base-url URL [--version V] [--out DIR] [--build-dir DIR]
#              --update-key UPDATE.pem
#              (--cert CHAIN.pem --key KEY.pem | --pkcs12 BUNDLE.p12) [--ca ROOTS.pem]
#              (--timestamp URL | --no-timestamp)
#   release.sh --base-url URL ... --unsigned     (what is missing is left out)
#
# URL is where downloads/ will be served, e.g. http://www.halvotren.example/downloads.
# downloads/ also gets Halvotren-<version>.buildinfo: the commit, the time
# and the package versions the release was built with, the update key's
# public half and whether it is signed, from which
# scripts/verify-release.sh builds it again.
# The version defaults to the one CMakeLists.txt sets.
#
# UPDATE.pem is the publisher's Ed25519 update key: its public half is built
# into the program, which then starts only packages signed with it, and the
# package is signed with it. Its passphrase, if any, is read from
# HALVOTREN_UPDATE_KEY_PASSWORD or asked for by openssl, never taken from
# the command line.
#
# The certificate signs the program and the package with Authenticode
# (scripts/sign.sh; a PKCS#12 password is read from HALVOTREN_SIGN_PASSWORD),
# timestamped by the server at --timestamp. ROOTS.pem holds the root
# certificates the signing and timestamp certificates chain to, for the
# check below; without it the system's CA bundle is used.
#
# Before anything is laid out, the release is checked: the update signature
# with openssl, the program's and the package's Authenticode signatures and
# their timestamps with osslsigncode. A failure leaves OUT as it was.
set -euo pipefail
source "$(dirname "$0")/build.sh"
source "$HALVOTREN_ROOT/scripts/buildinfo.sh"

base_url= version= out= build_dir= update_key= ca= timestamp= no_timestamp= unsigned=
signing=()
usage() {
  cat >&2 <<'EOF'
usage: release.sh --base-url URL [--version V] [--out DIR] [--build-dir DIR]
                  --update-key UPDATE.pem
                  (--cert CHAIN.pem --key KEY.pem | --pkcs12 BUNDLE.p12) [--ca ROOTS.pem]
                  (--timestamp URL | --no-timestamp)
       release.sh --base-url URL ... --unsigned   (what is missing is left out)
EOF
  exit 2
}
fail() {
  echo "release: $*" >&2
  exit 1
}
while [ $# -gt 0 ]; do
  case "$1" in
    --unsigned) unsigned=yes; shift; continue ;;
    --no-timestamp) no_timestamp=yes; shift; continue ;;
  esac
  [ $# -ge 2 ] || usage
  case "$1" in
    --base-url) base_url=$2 ;;
    --version) version=$2 ;;
    --out) out=$2 ;;
    --build-dir) build_dir=$2 ;;
    --update-key) update_key=$(realpath "$2") ;;
    --cert) signing+=(-DHALVOTREN_SIGN_CERT="$(realpath "$2")") ;;
    --key) signing+=(-DHALVOTREN_SIGN_KEY="$(realpath "$2")") ;;
    --pkcs12) signing+=(-DHALVOTREN_SIGN_PKCS12="$(realpath "$2")") ;;
    --ca) ca=$(realpath "$2") ;;
    --timestamp) timestamp=$2 ;;
    *) usage ;;
  esac
  shift 2
done
[ -n "$base_url" ] || usage
if [ ${#signing[@]} -gt 0 ]; then
  if [ -n "$timestamp" ] && [ -n "$no_timestamp" ]; then usage; fi
  if [ -z "$timestamp" ] && [ -z "$no_timestamp" ]; then
    fail "a signed release names its timestamp server (--timestamp URL), or says --no-timestamp"
  fi
  if [ -n "$timestamp" ]; then
    signing+=(-DHALVOTREN_SIGN_TIMESTAMP="$timestamp")
  else
    signing+=(-DHALVOTREN_SIGN_NO_TIMESTAMP=ON)
  fi
fi
if [ ${#signing[@]} -eq 0 ] || [ -z "$update_key" ]; then
  [ -n "$unsigned" ] || fail "no certificate or no update key given; a release without them needs --unsigned"
fi
if [ ${#signing[@]} -eq 0 ]; then
  echo "release: *** UNSIGNED: no certificate; Windows shows the package as from an unknown publisher ***" >&2
fi
if [ -z "$update_key" ]; then
  echo "release: *** NO UPDATE KEY: the programs of this release take ANY update package the network serves ***" >&2
fi
# The buildinfo names the commit; a release of anything else cannot be
# rebuilt by its users.
case "$(checkout_commit)" in
  none) echo "release: *** NOT A GIT CHECKOUT: no commit rebuilds this release ***" >&2 ;;
  *+modified) echo "release: *** UNCOMMITTED CHANGES: no commit rebuilds this release ***" >&2 ;;
esac
if [ -z "$version" ]; then
  version=$(sed -n 's/^set(HALVOTREN_VERSION "\([^"]*\)".*/\1/p' "$HALVOTREN_ROOT/CMakeLists.txt")
fi
out=${out:-$HALVOTREN_ROOT/release/$version}
build_dir=${build_dir:-$HALVOTREN_BUILD/release-$version}
if [ -e "$out" ] && [ -n "$(ls -A "$out")" ] && [ "$(ls -A "$out")" != downloads ]; then
  fail "$out exists and is not a release folder; choose another --out"
fi

"$HALVOTREN_ROOT/scripts/install-deps.sh"
work=$(mktemp -d)
mkdir -p "$(dirname "$out")"
staging=$(mktemp -d "$(dirname "$out")/.release-$version.XXXXXX")
trap 'rm -rf "$work" "$staging"' EXIT
passphrase=()
if [ -n "${HALVOTREN_UPDATE_KEY_PASSWORD:-}" ]; then
  passphrase=(-passin env:HALVOTREN_UPDATE_KEY_PASSWORD)
fi
public_key=
if [ -n "$update_key" ]; then
  # Kept in the build tree, whose cache names it: the tree builds again
  # after the release, as any build tree does.
  mkdir -p "$build_dir"
  public_key=$build_dir/update-key.pub.pem
  openssl pkey -in "$update_key" "${passphrase[@]}" -pubout -out "$public_key" ||
    fail "cannot read the update key $update_key"
fi

halvotren_build_release "$build_dir" "$version" "$public_key" "${signing[@]}"
package=$build_dir/Halvotren-$version.msi

signature=()
if [ -n "$update_key" ]; then
  # The message the program checks: what it is, the version exactly as the
  # version file gives it, then the package.
  { printf 'Halvotren update\n%s\n' "$version"; cat "$package"; } >"$work/message"
  openssl pkeyutl -sign -rawin -inkey "$update_key" "${passphrase[@]}" -in "$work/message" \
    -out "$work/signature" || fail "signing the package with the update key failed"
  openssl pkeyutl -verify -pubin -inkey "$public_key" -rawin -in "$work/message" \
    -sigfile "$work/signature" >/dev/null || fail "the package's update signature does not verify"
  signature=("$work/signature")
fi

# osslsigncode's exit status says only that some signature verified, so each
# one is checked on its own, by what it prints: the SHA-1 signature (index 0)
# with a legacy timestamp, which has no serial number, and the nested SHA-256
# one with an RFC 3161 timestamp, which has.
check_signature() {  # FILE INDEX DIGEST
  local roots=() output
  if [ -n "$ca" ]; then roots=(-CAfile "$ca" -TSA-CAfile "$ca"); fi
  output=$(osslsigncode verify "${roots[@]}" -in "$1" -index "$2" 2>/dev/null) || return 1
  grep -qx "Message digest algorithm: $3" <<<"$output" && grep -qx 'Signature verification: ok' <<<"$output" ||
    return 1
  [ -z "$timestamp" ] && return 0
  grep -qx 'Timestamp Server Signature verification: ok' <<<"$output" || return 1
  if [ "$2" = 0 ]; then
    ! grep -q '^Timestamp serial number: ' <<<"$output"
  else
    grep -q '^Timestamp serial number: [0-9A-F]' <<<"$output"
  fi
}
# Both must verify: XP checks only the SHA-1 one and later Windows rely on
# the SHA-256 one, so either, damaged, fails some users while the other passes.
if [ ${#signing[@]} -gt 0 ]; then
  for file in "$build_dir/Halvotren.exe" "$package"; do
    name=$(basename "$file")
    check_signature "$file" 0 SHA1 ||
      fail "$name: its SHA-1 signature or its timestamp does not verify (osslsigncode verify -index 0 -in $file)"
    check_signature "$file" 1 SHA256 ||
      fail "$name: its nested SHA-256 signature or its timestamp does not verify (osslsigncode verify -index 1 -in $file)"
  done
fi

"$HALVOTREN_PYTHON" "$HALVOTREN_ROOT/scripts/release_folder.py" "$package" "$version" "$base_url" "$staging" \
  "${signature[@]}" >/dev/null
authenticode=none
if [ ${#signing[@]} -gt 0 ]; then authenticode=signed; fi
buildinfo_write "$build_dir" "$version" "$base_url" "$public_key" "$authenticode" \
  >"$staging/downloads/Halvotren-$version.buildinfo"
# The new release takes the old one's place: the old one is moved aside
# first and put back if the new one cannot take its place, so that one or
# the other is always there.
previous=
if [ -e "$out" ]; then
  previous=$(mktemp -d "$(dirname "$out")/.previous-$version.XXXXXX")
  mv -T "$out" "$previous/release" || fail "cannot move the previous release $out aside"
fi
if ! mv -T "$staging" "$out"; then
  if [ -n "$previous" ]; then mv -T "$previous/release" "$out"; fi
  fail "cannot move the release into $out; the previous one is left as it was"
fi
if [ -n "$previous" ]; then rm -rf "$previous"; fi
echo "release: $(basename "$package") ($(stat -c %s "$package") bytes) in $out/downloads"
