#!/usr/bin/env python3
"""Who the Authenticode signatures of a program or a package name: for each
one, the nested ones too, its digest, the signer's certificate's subject and
issuer, and the time its timestamp gives. Nothing here checks a signature
or its chain: Windows does, against its own roots.

    signer.py FILE   one line; "none: ..." when FILE carries no signature

Read with a DER reader of its own: the signature is PKCS #7 SignedData
(RFC 2315) with X.509 certificates (RFC 5280), its timestamp a PKCS #9
countersignature or an RFC 3161 token.
"""
import datetime
import struct
import sys

import msi_streams

SIGNATURE_STREAM = "\x05DigitalSignature"
SEQUENCE, SET, OID, OCTETS, FIRST, SECOND = 0x30, 0x31, 0x06, 0x04, 0xA0, 0xA1
DIGESTS = {"1.3.14.3.2.26": "SHA-1", "2.16.840.1.101.3.4.2.1": "SHA-256", "2.16.840.1.101.3.4.2.2": "SHA-384",
           "2.16.840.1.101.3.4.2.3": "SHA-512", "1.2.840.113549.2.5": "MD5"}
ATTRIBUTES = {"2.5.4.3": "CN", "2.5.4.10": "O", "2.5.4.11": "OU", "2.5.4.6": "C", "2.5.4.7": "L", "2.5.4.8": "ST",
              "1.2.840.113549.1.9.1": "emailAddress"}
COUNTERSIGNATURE, SIGNING_TIME = "1.2.840.113549.1.9.6", "1.2.840.113549.1.9.5"
TIMESTAMP_TOKEN, NESTED_SIGNATURE = "1.3.6.1.4.1.311.3.3.1", "1.3.6.1.4.1.311.2.4.1"
TEXT = {0x0C: "utf-8", 0x13: "ascii", 0x16: "ascii", 0x14: "latin-1", 0x1E: "utf-16-be"}


def elements(data, most=None):
    """[(tag, contents), ...] of the DER elements data holds one after
    another, or of its first most."""
    out, at = [], 0
    while at < len(data) and len(out) != most:
        tag, length = data[at], data[at + 1]
        at += 2
        if length & 0x80:
            count = length & 0x7F
            if not 1 <= count <= 4:
                raise ValueError("not DER")
            length = int.from_bytes(data[at:at + count], "big")
            at += count
        if at + length > len(data):
            raise ValueError("an element runs past its container")
        out.append((tag, data[at:at + length]))
        at += length
    return out


def oid(contents):
    first, values, value = contents[0], [], 0
    for byte in contents[1:]:
        value = value << 7 | byte & 0x7F
        if not byte & 0x80:
            values.append(value)
            value = 0
    return ".".join(str(n) for n in [min(first // 40, 2), first - 40 * min(first // 40, 2)] + values)


def name(contents):
    parts = []
    for _, relative in elements(contents):
        for _, pair in elements(relative):
            (_, kind), (tag, value) = elements(pair)[:2]
            parts.append("/%s=%s" % (ATTRIBUTES.get(oid(kind), oid(kind)), value.decode(TEXT.get(tag, "latin-1"))))
    return "".join(parts)


def time(tag, contents):
    text = contents.decode("ascii").rstrip("Z")
    if tag == 0x17:  # UTCTime: two digits of the year
        text = ("19" if int(text[:2]) >= 50 else "20") + text
    return datetime.datetime.strptime(text[:14], "%Y%m%d%H%M%S").strftime("%Y-%m-%d %H:%M:%S UTC")


def attributes(contents):
    """[(type, [(tag, contents) of each value]), ...]"""
    return [(oid(elements(attribute)[0][1]), elements(elements(attribute)[1][1]))
            for _, attribute in elements(contents)]


def signed_data(content_info):
    """The SignedData's parts from its ContentInfo: certificates, signer
    infos and the content it signs."""
    _, explicit = elements(content_info)[:2]
    parts = elements(elements(explicit[1])[0][1])
    certificates = [c for tag, body in parts if tag == FIRST for _, c in elements(body)]
    return certificates, elements(parts[-1][1]), elements(parts[2][1])


def timestamp(unsigned):
    for kind, values in unsigned:
        if kind == COUNTERSIGNATURE:
            for tag, body in elements(values[0][1]):
                if tag == FIRST:
                    for attribute, found in attributes(body):
                        if attribute == SIGNING_TIME:
                            return time(*found[0])
        if kind == TIMESTAMP_TOKEN:
            _, _, content = signed_data(values[0][1])
            token = elements(elements(content[1][1])[0][1])[0][1]
            generalized = [element for element in elements(token) if element[0] == 0x18]
            return time(*generalized[0])
    return None


def signatures(content_info):
    """[(digest, subject, issuer, timestamp), ...], the nested ones after."""
    certificates, signers, _ = signed_data(content_info)
    found = []
    for _, signer in signers:
        parts = elements(signer)
        issuer, serial = elements(parts[1][1])[:2]
        subject = "an unknown certificate"
        for certificate in certificates:
            fields = [f for f in elements(elements(certificate)[0][1]) if f[0] != FIRST]
            if fields[0] == serial and fields[2][1] == issuer[1]:
                subject = name(fields[4][1])
        unsigned = attributes(parts[-1][1]) if parts[-1][0] == SECOND else []
        digest = oid(elements(parts[2][1])[0][1])
        found.append((DIGESTS.get(digest, digest), subject, name(issuer[1]), timestamp(unsigned)))
        for kind, values in unsigned:
            if kind == NESTED_SIGNATURE:
                for _, value in values:
                    found += signatures(value)
    return found


def signature_of(path):
    """The PKCS #7 signature a program or a package carries, or None."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] == b"MZ":
        header, = struct.unpack_from("<I", data, 0x3C)
        directories = header + 24 + (96 if struct.unpack_from("<H", data, header + 24)[0] == 0x10B else 112)
        offset, size = struct.unpack_from("<II", data, directories + 4 * 8)
        return data[offset + 8:offset + size] if size else None
    entry = msi_streams.read(path).entries.get((SIGNATURE_STREAM,))
    if entry and entry.kind != "stream":
        raise ValueError("%s is a storage, not a stream" % msi_streams.shown(SIGNATURE_STREAM))
    return entry.data if entry else None


def describe(path):
    signature = signature_of(path)
    if not signature:
        return "none: it carries no Authenticode signature"
    said, before = [], None
    # Padding may follow it, to a multiple of 8 bytes.
    for digest, subject, issuer, stamp in signatures(elements(signature, 1)[0][1]):
        who = "the same signer" if (subject, issuer) == before else "signer %s, issuer %s" % (subject, issuer)
        said.append("%s, %s, %s" % (digest, who, "timestamp " + stamp if stamp else "no timestamp"))
        before = subject, issuer
    return "; ".join(said)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    try:
        print(describe(sys.argv[1]))
    except msi_streams.Refused as refused:
        print("not read: the package is refused (%s)" % refused)
        sys.exit(1)
    except (ValueError, IndexError, UnicodeDecodeError, struct.error) as error:
        print("a signature that cannot be read (%s)" % (error or "it ends early"))
        sys.exit(1)
