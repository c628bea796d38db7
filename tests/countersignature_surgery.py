"""Edits the unsigned attributes of the signer of an Authenticode SignedData
(DER) for the signature fixtures; the signer's own signature is left as it
is, so a stamp made for another signature stays wrong:
  graft  SIGNED DONOR OUT           SIGNED's signer with DONOR's unsigned attributes
  pkcs9  SIGNED COUNTED CERT KEY TIME OUT
                                    SIGNED's signer with a PKCS #9 countersignature over the
                                    signature value of COUNTED's signer, made at TIME (UTCTime,
                                    YYMMDDhhmmssZ) with CERT (DER, added to the certificates)
                                    and KEY (PEM)
  pkcs9-broken ...                  the same with the countersignature's signature damaged"""
import hashlib
import subprocess
import sys


def head(b, i):
    """Tag, content start and end of the DER element at i."""
    n, s = b[i + 1], i + 2
    if n & 0x80:
        s, n = s + (n & 0x7F), int.from_bytes(b[s:s + (n & 0x7F)], "big")
    return b[i], s, s + n


def kids(b):
    """The (tag, element, content) triples of a constructed element's content."""
    out, i = [], 0
    while i < len(b):
        t, s, e = head(b, i)
        out.append((t, b[i:e], b[s:e]))
        i = e
    return out


def der(t, c):
    n = len(c)
    k = (n.bit_length() + 7) // 8
    return bytes([t]) + (bytes([n]) if n < 128 else bytes([0x80 | k]) + n.to_bytes(k, "big")) + c


def parts(path):
    """ContentInfo's type, SignedData's elements, the one signer's elements."""
    info = kids(kids(open(path, "rb").read())[0][2])
    signed = kids(kids(info[1][2])[0][2])
    return info[0][1], signed, kids(kids(signed[-1][2])[0][2])


def build(path, signer_unsigned, extra_cert=b""):
    content_type, signed, signer = parts(path)
    signer = b"".join(e for t, e, _ in signer if t != 0xA1) + signer_unsigned
    signed = [der(0xA0, c + extra_cert) if t == 0xA0 else e for t, e, c in signed[:-1]]
    signed.append(der(0x31, der(0x30, signer)))
    return der(0x30, content_type + der(0xA0, der(0x30, b"".join(signed))))


def main(mode, signed, *rest):
    out = rest[-1]
    if mode == "graft":
        result = build(signed, [e for t, e, _ in parts(rest[0])[2] if t == 0xA1][0])
    else:
        counted, cert, key, time = rest[:4]
        value = [c for t, _, c in parts(counted)[2] if t == 0x04][-1]
        attributes = b"".join(der(0x30, bytes.fromhex(oid) + der(0x31, v)) for oid, v in (
            ("06092a864886f70d010903", bytes.fromhex("06092a864886f70d010701")),  # contentType: data
            ("06092a864886f70d010905", der(0x17, time.encode())),  # signingTime
            ("06092a864886f70d010904", der(0x04, hashlib.sha256(value).digest()))))  # messageDigest
        signature = subprocess.run(["openssl", "dgst", "-sha256", "-sign", key], input=der(0x31, attributes),
                                   capture_output=True, check=True).stdout
        if mode == "pkcs9-broken":
            signature = signature[:-1] + bytes([signature[-1] ^ 1])
        certificate = open(cert, "rb").read()
        tbs = kids(kids(kids(certificate)[0][2])[0][2])  # version, serial, algorithm, issuer...
        counter = der(0x30, der(0x02, b"\x01") + der(0x30, tbs[3][1] + tbs[1][1])
                      + der(0x30, bytes.fromhex("0609608648016503040201")) + der(0xA0, attributes)
                      + der(0x30, bytes.fromhex("06082a8648ce3d040302")) + der(0x04, signature))
        attribute = der(0x30, bytes.fromhex("06092a864886f70d010906") + der(0x31, counter))
        result = build(signed, der(0xA1, attribute), certificate)
    open(out, "wb").write(result)


if __name__ == "__main__":
    main(*sys.argv[1:])
