"""Edits the signer of an Authenticode SignedData (DER) without signing
anything anew, for the signature fixtures:
  value  SIGNED OUT                 the signer's signature value (what a countersignature covers)
  graft  SIGNED DONOR OUT           SIGNED's signer with DONOR's unsigned attributes
  pkcs9  SIGNED CMS CERT OUT        SIGNED's signer countersigned by the SignerInfo of the
                                    CMS SignedData, and CERT (DER) added to the certificates
  pkcs9-broken ...                  the same with the countersignature's signature damaged"""
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
    if mode == "value":
        result = [c for t, _, c in parts(signed)[2] if t == 0x04][-1]
    elif mode == "graft":
        result = build(signed, [e for t, e, _ in parts(rest[0])[2] if t == 0xA1][0])
    else:
        counter = [e for _, e, _ in parts(rest[0])[2]]
        if mode == "pkcs9-broken":  # the last byte of the signature value
            counter = [e[:-1] + bytes([e[-1] ^ 1]) if e[0] == 0x04 else e for e in counter]
        element = der(0x30, b"".join(counter))
        countersignature_oid = bytes.fromhex("06092a864886f70d010906")
        attribute = der(0x30, countersignature_oid + der(0x31, element))
        result = build(signed, der(0xA1, attribute), open(rest[1], "rb").read())
    open(out, "wb").write(result)


if __name__ == "__main__":
    main(*sys.argv[1:])
