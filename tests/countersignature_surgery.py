"""Replaces an Authenticode signer's unsigned attributes, its signature kept: graft SIGNED DONOR OUT (DONOR's), or
pkcs9|pkcs9-broken SIGNED COUNTED AUTHORITY(.pem,.key) UTCTIME OUT (a countersignature of COUNTED's signature)."""
import base64, hashlib, subprocess, sys


def kids(b):
    """The (tag, element, content) of each DER element in b."""
    out, i = [], 0
    while i < len(b):
        n, s = b[i + 1], i + 2
        if n & 0x80:
            s, n = s + (n & 0x7F), int.from_bytes(b[s:s + (n & 0x7F)], "big")
        out.append((b[i], b[i:s + n], b[s:s + n]))
        i = s + n
    return out


def der(t, c):
    k = (len(c).bit_length() + 7) // 8
    return bytes([t]) + (bytes([len(c)]) if len(c) < 128 else bytes([0x80 | k]) + len(c).to_bytes(k, "big")) + c


def parts(path):
    """ContentInfo's type, SignedData's elements, the one signer's elements."""
    info = kids(kids(open(path, "rb").read())[0][2])
    signed = kids(kids(info[1][2])[0][2])
    return info[0][1], signed, kids(kids(signed[-1][2])[0][2])


def main(mode, path, *rest):
    (content_type, signed, signer), cert = parts(path), b""
    if mode == "graft":
        unsigned = [e for t, e, _ in parts(rest[0])[2] if t == 0xA1][0]
    else:
        counted, authority, time = rest[:3]
        value = [c for t, _, c in parts(counted)[2] if t == 0x04][-1]
        attributes = b"".join(der(0x30, bytes.fromhex(oid) + der(0x31, v)) for oid, v in (
            ("06092a864886f70d010903", bytes.fromhex("06092a864886f70d010701")),  # contentType: data
            ("06092a864886f70d010905", der(0x17, time.encode())),  # signingTime
            ("06092a864886f70d010904", der(0x04, hashlib.sha256(value).digest()))))  # messageDigest
        signature = bytearray(subprocess.run(["openssl", "dgst", "-sha256", "-sign", authority + ".key"],
                                             input=der(0x31, attributes), capture_output=True, check=True).stdout)
        signature[-1] ^= mode == "pkcs9-broken"
        cert = base64.b64decode("".join(open(authority + ".pem").read().split("-----")[2].split()))
        tbs = kids(kids(kids(cert)[0][2])[0][2])  # version, serial, algorithm, issuer...
        counter = der(0x30, der(0x02, b"\x01") + der(0x30, tbs[3][1] + tbs[1][1])
                      + der(0x30, bytes.fromhex("0609608648016503040201")) + der(0xA0, attributes)
                      + der(0x30, bytes.fromhex("06082a8648ce3d040302")) + der(0x04, bytes(signature)))
        unsigned = der(0xA1, der(0x30, bytes.fromhex("06092a864886f70d010906") + der(0x31, counter)))
    signer = der(0x31, der(0x30, b"".join(e for t, e, _ in signer if t != 0xA1) + unsigned))
    body = b"".join(der(0xA0, c + cert) if t == 0xA0 else e for t, e, c in signed[:-1]) + signer
    open(rest[-1], "wb").write(der(0x30, content_type + der(0xA0, der(0x30, body))))


main(*sys.argv[1:])
