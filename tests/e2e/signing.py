"""The credentials a publisher releases with, made afresh with openssl for
the release tests: a certificate chain for Authenticode, a timestamping
certificate, and an Ed25519 update key.

  Root -> Intermediate -> "Halvotren Test Publisher"
       -> "Halvotren Test Timestamps"

Every certificate is signed with SHA-1: Windows XP SP2 verifies nothing else.
"""
import os
import shutil
import subprocess
import tempfile

PUBLISHER = "/CN=Halvotren Test Publisher/O=Halvotren developers"

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
[tsa]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, nonRepudiation
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
"""


def _openssl(*args, cwd):
    subprocess.run(["openssl", *args], cwd=cwd, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


class Pki:
    """Everything in a folder of its own: root (the trust anchor), chain and
    key (the publisher's certificate, then the intermediate), tsa (the
    timestamping certificate, its key and its issuer, the root) and
    update_key."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="halvotren-pki-")
        with open(self.path("extensions.cnf"), "w") as f:
            f.write(_EXTENSIONS)
        self._issue("root", "/CN=Halvotren Test Root", None, "ca")
        self._issue("intermediate", "/CN=Halvotren Test Intermediate", "root", "ca")
        self._issue("publisher", PUBLISHER, "intermediate", "leaf")
        self.root = self.path("root.pem")
        self.chain, self.key = self.path("publisher-chain.pem"), self.path("publisher.key")
        with open(self.chain, "w") as out:
            for part in ("publisher", "intermediate"):
                with open(self.path(part + ".pem")) as f:
                    out.write(f.read())
        self._issue("tsa", "/CN=Halvotren Test Timestamps", "root", "tsa")
        self.tsa = (self.path("tsa.pem"), self.path("tsa.key"), self.root)
        self.update_key = self.path("update.pem")
        _openssl("genpkey", "-algorithm", "ed25519", "-out", self.update_key, cwd=self.folder)

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
