#!/usr/bin/env python3
"""Lays out a release for the web server: OUT/downloads/ with the package,
its update signature when there is one, and halvotren.ver, written last.
Refuses a package the update path would refuse (more than 999,999 bytes)
or a signature that is not 64 bytes, leaving OUT untouched.

    release_folder.py PACKAGE VERSION BASE_URL OUT [SIGNATURE]
"""
import os
import shutil
import sys

# The largest installer the program's update check takes.
INSTALLER_LIMIT = 999999
SIGNATURE_SIZE = 64


def main(package, version, base_url, out, signature=None):
    size = os.path.getsize(package)
    if size > INSTALLER_LIMIT:
        print("release: %s is %d bytes; the update check takes at most %d" % (package, size, INSTALLER_LIMIT),
              file=sys.stderr)
        return 1
    if signature is not None and os.path.getsize(signature) != SIGNATURE_SIZE:
        print("release: %s is not a %d-byte signature" % (signature, SIGNATURE_SIZE), file=sys.stderr)
        return 1
    name = "Halvotren-%s.msi" % version
    downloads = os.path.join(out, "downloads")
    os.makedirs(downloads, exist_ok=True)
    shutil.copyfile(package, os.path.join(downloads, name))
    if signature is not None:
        shutil.copyfile(signature, os.path.join(downloads, name + ".sig"))
    # No line break at the end: programs released before trailing line
    # breaks were dropped take one as part of the URL.
    with open(os.path.join(downloads, "halvotren.ver"), "w", newline="") as f:
        f.write("%s:%s/%s" % (version, base_url.rstrip("/"), name))
    print("release: %s (%d bytes) in %s" % (name, size, downloads))
    return 0


if __name__ == "__main__":
    if len(sys.argv) not in (5, 6):
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(main(*sys.argv[1:]))
