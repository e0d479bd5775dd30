#!/usr/bin/env bash
# Signs an executable or an installer package in place with Authenticode:
# first SHA-1, the only digest Windows XP SP2 verifies, then a nested SHA-256
# signature for later Windows.
#
#   sign.sh --cert CHAIN.pem --key KEY.pem FILE
#   sign.sh --pkcs12 BUNDLE.p12 FILE        (password in HALVOTREN_SIGN_PASSWORD)
#
# CHAIN.pem holds the signing certificate first, then its intermediates, so
# that a verifier can build the chain without fetching anything.
set -euo pipefail

credentials=()
while [ $# -gt 1 ]; do
  case "$1" in
    --cert) credentials+=(-certs "$2"); shift 2 ;;
    --key) credentials+=(-key "$2"); shift 2 ;;
    --pkcs12) credentials+=(-pkcs12 "$2"); shift 2 ;;
    *) break ;;
  esac
done
if [ $# -ne 1 ] || [ ${#credentials[@]} -eq 0 ]; then
  echo "usage: sign.sh (--cert CHAIN.pem --key KEY.pem | --pkcs12 BUNDLE.p12) FILE" >&2
  exit 2
fi
file=$1
# The password goes through a file that only this user can read, never
# through the command line that every process can see.
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -n "${HALVOTREN_SIGN_PASSWORD:-}" ]; then
  (umask 077; printf '%s' "$HALVOTREN_SIGN_PASSWORD" >"$work/password")
  credentials+=(-readpass "$work/password")
fi

osslsigncode sign "${credentials[@]}" -h sha1 -n Halvotren -in "$file" -out "$work/sha1" >/dev/null
osslsigncode sign "${credentials[@]}" -nest -h sha256 -n Halvotren -in "$work/sha1" -out "$work/both" >/dev/null
cp "$work/both" "$file"
