"""A loopback timestamp server for signing tests, answering with openssl.

It speaks both protocols a release signature needs: RFC 3161 for the SHA-256
signature, and the older Authenticode one, the only kind Windows XP reads,
for the SHA-1 signature. Runs in a thread of the test process on 127.0.0.1
with a port of the system's choosing.
"""
import base64
import os
import subprocess
import threading

from update_server import LoopbackServer

_CONFIG = """[tsa]
default_tsa = answers
[answers]
serial = {folder}/tsa.serial
crypto_device = builtin
signer_cert = {cert}
certs = {issuer}
signer_key = {key}
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256, sha384, sha512
"""


def _openssl(*args, data=None):
    return subprocess.run(["openssl", *args], input=data, check=True,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE).stdout


def _authenticode_content(der):
    """What a legacy request asks to have signed, the signature's encrypted
    digest: SEQUENCE { type, SEQUENCE { data, [0] { OCTET STRING } } }."""
    at = 0
    for into in (True, False, True, False, True, True):
        tag, length, at = der[at], der[at + 1], at + 2
        if length & 0x80:
            length, at = int.from_bytes(der[at:at + (length & 0x7F)], "big"), at + (length & 0x7F)
        at += 0 if into else length
    if tag != 0x04:
        raise ValueError("not a timestamp request")
    return der[at:at + length]


class TimestampServer(LoopbackServer):
    """Answers as the TSA with this certificate, key and issuer's
    certificate (which replies carry besides its own). requests
    lists the kind of every request, in order: "rfc3161" or "authenticode"."""

    def __init__(self, cert, key, issuer):
        self.folder = os.path.dirname(os.path.abspath(cert))
        self.cert, self.key, self.issuer = [os.path.abspath(p) for p in (cert, key, issuer)]
        with open(os.path.join(self.folder, "tsa-reply.cnf"), "w") as f:
            f.write(_CONFIG.format(folder=self.folder, cert=self.cert, key=self.key, issuer=self.issuer))
        with open(os.path.join(self.folder, "tsa.serial"), "w") as f:
            f.write("00\n")
        self.lock = threading.Lock()
        self.requests = []
        super().__init__("POST", self._answer)
        self.url = "http://127.0.0.1:%d/" % self.port

    def _answer(self, handler):
        body = handler.rfile.read(int(handler.headers.get("Content-Length", 0)))
        rfc3161 = handler.headers.get("Content-Type") == "application/timestamp-query"
        status, reply = 500, b""
        # One at a time: openssl ts keeps the serial number in a file.
        with self.lock:
            self.requests.append("rfc3161" if rfc3161 else "authenticode")
            try:
                if rfc3161:
                    reply = _openssl("ts", "-reply", "-config", os.path.join(self.folder, "tsa-reply.cnf"),
                                     "-queryfile", "/dev/stdin", data=body)
                else:
                    # The legacy answer is a PKCS#7 signature over the very
                    # bytes asked about; the signer info becomes the countersignature.
                    signed = _openssl("cms", "-sign", "-binary", "-nodetach", "-nosmimecap", "-md", "sha1",
                                      "-signer", self.cert, "-inkey", self.key, "-certfile", self.issuer,
                                      "-outform", "DER", data=_authenticode_content(base64.b64decode(body)))
                    reply = base64.b64encode(signed)
                status = 200
            except (subprocess.CalledProcessError, ValueError, IndexError):
                pass
        handler.send_response(status)
        handler.send_header("Content-Type", "application/timestamp-reply" if rfc3161
                            else "application/octet-stream")
        handler.send_header("Content-Length", str(len(reply)))
        handler.send_header("Connection", "close")
        try:
            handler.end_headers()
            handler.wfile.write(reply)
        except OSError:
            pass  # a client that gave up on a refusal


def verify(path, roots, index):
    """osslsigncode's verdict on one signature of a signed file (0 the SHA-1
    one, 1 the nested SHA-256 one), (exit status, output), against the
    self-signed roots in the file roots (it builds no partial chains). Its
    exit status is 0 as soon as any one signature verifies, whatever the
    others and the timestamps, so each is asked about and its output read."""
    # Only the standard output: OpenSSL's errors on the standard error land
    # in the middle of its lines.
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", roots, "-TSA-CAfile", roots, "-index", str(index),
                             "-in", path], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    return result.returncode, result.stdout
