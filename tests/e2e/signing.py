"""A test PKI made afresh with openssl, Authenticode signing with
osslsigncode, and trust of its roots in the test prefix.

Everything is SHA-1: Windows XP SP2 verifies nothing else, and Wine 8 skips
the root check for certificates signed with SHA-256. Two roots:

  Root A -> Intermediate A1 -> "Halvotren Test Publisher"   (the publisher)
                            -> "Other Test Publisher"       (another one)
         -> Intermediate A2 -> "Halvotren Test Publisher"   (renewed: new key)
  Root B -----------------------> "Halvotren Test Publisher" (same name, other root)
"""
import hashlib
import os
import shutil
import subprocess
import tempfile

from bed import wine

PUBLISHER = "/CN=Halvotren Test Publisher/O=Halvotren developers"
ROOT_STORE = "HKLM\\Software\\Microsoft\\SystemCertificates\\Root\\Certificates"
# The serialized certificate a system store keeps in the registry: one
# property record (id, reserved 1, length) holding the encoded certificate.
CERT_CERT_PROP_ID = 32

_EXTENSIONS = """
[ca]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[leaf]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


class Pki:
    """Certificates and keys in a folder of their own. signers maps a name to
    (chain file, key file): leaf first, then its intermediates."""

    SIGNERS = ("publisher", "renewed", "other", "other_root")

    def __init__(self, folder=None):
        self.folder = folder or tempfile.mkdtemp(prefix="halvotren-pki-")
        with open(os.path.join(self.folder, "extensions.cnf"), "w") as f:
            f.write(_EXTENSIONS)
        self._issue("root_a", "/CN=Halvotren Test Root A", None, "ca")
        self._issue("root_b", "/CN=Halvotren Test Root B", None, "ca")
        self._issue("inter_a1", "/CN=Halvotren Test Intermediate A1", "root_a", "ca")
        self._issue("inter_a2", "/CN=Halvotren Test Intermediate A2", "root_a", "ca")
        self._issue("publisher", PUBLISHER, "inter_a1", "leaf")
        self._issue("renewed", PUBLISHER, "inter_a2", "leaf")
        self._issue("other", "/CN=Other Test Publisher/O=Somebody else", "inter_a1", "leaf")
        self._issue("other_root", PUBLISHER, "root_b", "leaf")
        self.roots = [self.path("root_a.pem"), self.path("root_b.pem")]
        self.signers = {}
        for name, chain in (("publisher", ["inter_a1"]), ("renewed", ["inter_a2"]),
                            ("other", ["inter_a1"]), ("other_root", [])):
            chain_file = self.path(name + "-chain.pem")
            with open(chain_file, "w") as out:
                for part in [name] + chain:
                    with open(self.path(part + ".pem")) as f:
                        out.write(f.read())
            self.signers[name] = (chain_file, self.path(name + ".key"))

    def remove(self):
        shutil.rmtree(self.folder, ignore_errors=True)

    def path(self, name):
        return os.path.join(self.folder, name)

    def _issue(self, name, subject, issuer, kind):
        _openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", name + ".key",
                 "-subj", subject, "-out", name + ".csr", cwd=self.folder)
        signing = (["-signkey", name + ".key"] if issuer is None
                   else ["-CA", issuer + ".pem", "-CAkey", issuer + ".key", "-set_serial",
                         str(int.from_bytes(os.urandom(8), "big"))])
        _openssl("x509", "-req", "-in", name + ".csr", "-sha1", "-days", "3650", *signing,
                 "-extfile", "extensions.cnf", "-extensions", kind, "-out", name + ".pem",
                 cwd=self.folder)


SIGN_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "sign.sh")


def sign(source, target, signer):
    """A copy of source (an exe or a package) signed as a release is, by the
    project's own signing script."""
    chain, key = signer
    shutil.copyfile(source, target)
    subprocess.run(["bash", SIGN_SCRIPT, "--cert", chain, "--key", key, target],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


# The signature value of a 2048-bit key: an OCTET STRING of 256 bytes. The
# first one in a signature blob is the primary signer's; the nested
# signature's comes later, and certificates carry theirs as BIT STRINGs.
SIGNATURE_VALUE = b"\x04\x82\x01\x00"


def corrupt_signature(source, target):
    """A copy of a signed file whose primary signature value has one bit
    flipped: the signature no longer matches its own signed attributes."""
    with tempfile.TemporaryDirectory() as work:
        der = os.path.join(work, "signature.der")
        subprocess.run(["osslsigncode", "extract-signature", "-in", source, "-out", der],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        with open(der, "rb") as f:
            blob = f.read()
    at = blob.index(SIGNATURE_VALUE) + len(SIGNATURE_VALUE)
    signature = blob[at:at + 256]
    with open(source, "rb") as f:
        data = bytearray(f.read())
    # A package keeps its streams in sectors that need not lie in order, so
    # look for a run of the value that does lie whole in the file.
    for start in range(0, len(signature) - 16):
        at = data.find(signature[start:start + 16])
        if at >= 0:
            data[at + 8] ^= 0x01
            with open(target, "wb") as f:
                f.write(data)
            return
    raise AssertionError("signature value not found in " + source)


def _certificate_der(pem_file):
    return subprocess.run(["openssl", "x509", "-in", pem_file, "-outform", "DER"],
                          check=True, stdout=subprocess.PIPE).stdout


def trust_roots(roots):
    """Adds the roots to the prefix's machine Root store, where Windows keeps
    them: a key named by the SHA-1 thumbprint with the serialized certificate."""
    for root in roots:
        der = _certificate_der(root)
        blob = (CERT_CERT_PROP_ID.to_bytes(4, "little") + (1).to_bytes(4, "little") +
                len(der).to_bytes(4, "little") + der)
        key = ROOT_STORE + "\\" + hashlib.sha1(der).hexdigest().upper()
        wine("reg", "add", key, "/v", "Blob", "/t", "REG_BINARY", "/d", blob.hex(), "/f")


def distrust_roots(roots):
    """Removes them again (deleting through the store API does nothing on
    Wine 8, so the registry key goes)."""
    for root in roots:
        key = ROOT_STORE + "\\" + hashlib.sha1(_certificate_der(root)).hexdigest().upper()
        wine("reg", "delete", key, "/f", check=False)
