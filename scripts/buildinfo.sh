# Shared by release.sh, which writes a release's buildinfo, and
# verify-release.sh, which rebuilds a release from it: what a rebuild must
# take over to give the same bytes. A buildinfo is lines of "Field: value";
# Built-With is followed by one indented "package version" line a package.
#
#   Version: 1.1
#   Commit: <the checkout's commit; "+modified" when it had changes, "none"
#           when it was no git checkout>
#   Source-Date-Epoch: <the time the build stamped into everything it made>
#   Base-URL: <where downloads/ is served, which halvotren.ver names>
#   Update-Key: <the update key's public half, base64 DER, or "none">
#   Authenticode: <"signed" when the program and the package carry
#           Authenticode signatures, "none" when they do not>
#   Built-With:
#    binutils-mingw-w64-i686 2.40-2+10.4
#    ...

# The Debian packages whose versions shape a release's bytes: the compiler,
# its runtime and Windows headers and libraries, binutils, wixl and the
# libraries it links (the database, the compound file, the cabinet's MSZIP,
# the template's XML), the signing tool, cmake, and the Python that draws
# the icons, runs wixl and reads and stamps the package, with its reader.
HALVOTREN_SHAPING_PACKAGES=(
  gcc-mingw-w64-i686-win32 g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32-runtime mingw-w64-i686-dev
  binutils-mingw-w64-i686 wixl wixl-data msitools libmsi0 libgcab-1.0-0 libgsf-1-114 zlib1g libglib2.0-0 libxml2
  osslsigncode cmake python3 python3-olefile
)
# The interpreter the build runs its Python scripts with (CMakeLists.txt
# names the same one), not whichever comes first on PATH.
HALVOTREN_PYTHON=/usr/bin/python3

# shaping_packages: the packages above, then those of the interpreter itself
# and of its standard library, which python3 only depends on.
shaping_packages() {
  local file
  printf '%s\n' "${HALVOTREN_SHAPING_PACKAGES[@]}"
  for file in "$(readlink -f "$HALVOTREN_PYTHON")" \
    $("$HALVOTREN_PYTHON" -c 'import os, uuid; print(os.__file__, uuid.__file__)' 2>/dev/null); do
    dpkg-query -S "$file" 2>/dev/null | sed -n '1s/[:,].*//p'
  done | sort -u
}

# installed_version PACKAGE: its installed version ("none" when it is not);
# a library installed for two architectures gives each version once.
installed_version() {
  local versions
  versions=$(dpkg-query -W -f='${db:Status-Abbrev} ${Version}\n' "$1" 2>/dev/null |
    awk '$1 == "ii" { print $2 }' | sort -u | paste -sd,)
  echo "${versions:-none}"
}

# checkout_commit: the commit this checkout is, as a buildinfo names it.
checkout_commit() {
  if [ ! -e "$HALVOTREN_ROOT/.git" ]; then
    echo none
  elif [ -n "$(git -C "$HALVOTREN_ROOT" status --porcelain --untracked-files=no)" ]; then
    echo "$(git -C "$HALVOTREN_ROOT" rev-parse HEAD)+modified"
  else
    git -C "$HALVOTREN_ROOT" rev-parse HEAD
  fi
}

# buildinfo_write BUILD_DIR VERSION BASE_URL PUBLIC_KEY AUTHENTICODE: the
# buildinfo of the release just built in BUILD_DIR (PUBLIC_KEY empty: none;
# AUTHENTICODE signed or none).
buildinfo_write() {
  local key=none package
  if [ -n "$4" ]; then
    key=$(openssl pkey -pubin -in "$4" -outform DER | base64 -w0)
  fi
  printf 'Version: %s\nCommit: %s\nSource-Date-Epoch: %s\nBase-URL: %s\nUpdate-Key: %s\nAuthenticode: %s\n' \
    "$2" "$(checkout_commit)" "$(cat "$1/generated/source-date-epoch")" "$3" "$key" "$5"
  echo "Built-With:"
  while read -r package; do
    echo " $package $(installed_version "$package")"
  done < <(shaping_packages)
}

# buildinfo_field FILE FIELD: the field's value (empty when it is missing).
buildinfo_field() {
  sed -n "s/^$2: //p" "$1" | head -n 1
}

# buildinfo_packages FILE: its "package version" lines.
buildinfo_packages() {
  sed -n '/^Built-With:/,$ s/^ \([^ ]*\) \(.*\)$/\1 \2/p' "$1"
}

# buildinfo_public_key FILE OUT: writes its update key as a PEM public key.
buildinfo_public_key() {
  printf -- '-----BEGIN PUBLIC KEY-----\n%s\n-----END PUBLIC KEY-----\n' "$(buildinfo_field "$1" Update-Key)" >"$2"
}
