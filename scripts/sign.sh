#!/usr/bin/env bash
# Signs an executable or an installer package in place with Authenticode:
# first SHA-1, the only digest Windows XP SP2 verifies, then a nested SHA-256
# signature for later Windows.
#
#   sign.sh (--cert CHAIN.pem --key KEY.pem | --pkcs12 BUNDLE.p12)
#           (--timestamp URL | --no-timestamp) FILE
#
# A PKCS#12 password is read from HALVOTREN_SIGN_PASSWORD. CHAIN.pem holds the
# signing certificate first, then its intermediates, so that a verifier can
# build the chain without fetching anything.
#
# Without a timestamp a signature stops verifying the day its certificate
# expires, so a release names a timestamp server, and leaving it out has to be
# asked for. The SHA-1 signature gets a legacy Authenticode timestamp, the
# only kind XP reads; the SHA-256 one an RFC 3161 timestamp from the same URL.
set -euo pipefail

usage() {
  cat >&2 <<'EOF'
usage: sign.sh (--cert CHAIN.pem --key KEY.pem | --pkcs12 BUNDLE.p12)
               (--timestamp URL | --no-timestamp) FILE
  --timestamp URL  the timestamp server for both signatures
  --no-timestamp   none: the signatures stop verifying when the certificate expires
EOF
  exit 2
}

credentials=() legacy_stamp=() rfc3161_stamp=() stamped=
while [ $# -gt 1 ]; do
  case "$1" in
    --cert) credentials+=(-certs "$2"); shift 2 ;;
    --key) credentials+=(-key "$2"); shift 2 ;;
    --pkcs12) credentials+=(-pkcs12 "$2"); shift 2 ;;
    --timestamp)
      if [ -n "$stamped" ] || [ -z "$2" ]; then usage; fi
      stamped=yes; legacy_stamp=(-t "$2"); rfc3161_stamp=(-ts "$2"); shift 2 ;;
    --no-timestamp) [ -z "$stamped" ] || usage; stamped=no; shift ;;
    *) break ;;
  esac
done
if [ $# -ne 1 ] || [ ${#credentials[@]} -eq 0 ] || [ -z "$stamped" ]; then
  usage
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

# osslsigncode tells why it failed (a timestamp server that did not answer,
# say) on its standard output, which is otherwise only chatter.
run() {
  if ! "$@" >"$work/log" 2>&1; then
    cat "$work/log" >&2
    echo "sign.sh: signing $file failed" >&2
    exit 1
  fi
}
run osslsigncode sign "${credentials[@]}" -h sha1 -n Halvotren "${legacy_stamp[@]}" \
  -in "$file" -out "$work/sha1"
run osslsigncode sign "${credentials[@]}" -nest -h sha256 -n Halvotren "${rfc3161_stamp[@]}" \
  -in "$work/sha1" -out "$work/both"
cp "$work/both" "$file"
