#!/usr/bin/env python3
"""Writes tests/data/update/signature_vectors.json: SHA-512 and BLAKE2b-512
digests from Python's hashlib (an implementation independent of the
program's), the test vectors of RFC 7693 and RFC 8032, and Ed25519
signatures bent into the shapes a strict verifier must refuse. Run it when
the vectors change."""
import hashlib
import json
import os

NOTE = ("Made by make_signature_vectors.py. [sha512|blake2b, lcg, length, digest]: hashlib's "
        "digest of length bytes, byte i the top byte of step i of x = x * 1103515245 + 12345 "
        "mod 2^32 from x = length; [sha512|blake2b, text, message, digest]; "
        "[ed25519, name, key, message, signature, valid|refused] (hex).")

L = 2**252 + 27742317777372353535851937790883648493
P = 2**255 - 19

# RFC 8032 section 7.1: TEST 1, 2, 3 and SHA(abc).
RFC8032 = [
    ("rfc8032 test 1", "d75a980182b10ab7d54bfed3c964073a0ee172f3daa62325af021a68f707511a", "",
     "e5564300c360ac729086e2cc806e828a84877f1eb8e5d974d873e065224901555fb8821590a33bacc61e39701cf9"
     "b46bd25bf5f0595bbe24655141438e7a100b"),
    ("rfc8032 test 2", "3d4017c3e843895a92b70aa74d1b7ebc9c982ccf2ec4968cc0cd55f12af4660c", "72",
     "92a009a9f0d4cab8720e820b5f642540a2b27b5416503f8fb3762223ebdb69da085ac1e43e15996e458f3613d0f1"
     "1d8c387b2eaeb4302aeeb00d291612bb0c00"),
    ("rfc8032 test 3", "fc51cd8e6218a1a38da47ed00230f0580816ed13ba3303ac5deb911548908025", "af82",
     "6291d657deec24024827e69c3abe01a30ce548a284743a445e3680d7db5ac3ac18ff9b538d16f290ae67f760984d"
     "c6594a7c15e9716ed28dc027beceea1ec40a"),
    ("rfc8032 sha(abc)", "ec172b93ad5e563bf4932c70e1245034c35467ef2efd4d64ebf819683467e2bf",
     hashlib.sha512(b"abc").hexdigest(),
     "dc2a4459e7369633a52b1bf277839a00201009a3efbf3ecb69bea2186c26b58909351fc9ac90b3ecfdfbc7c66431"
     "e0303dca179c138ac17ad9bef1177331a704"),
]


def lcg(n):
    out, x = bytearray(n), n
    for i in range(n):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = x >> 24
    return bytes(out)


def le(n, size=32):
    return n.to_bytes(size, "little").hex()


def main():
    rows = []
    lengths = list(range(0, 300)) + [1000, 4096, 65537]
    for n in lengths:
        rows.append(["sha512", "lcg", str(n), hashlib.sha512(lcg(n)).hexdigest()])
        rows.append(["blake2b", "lcg", str(n), hashlib.blake2b(lcg(n)).hexdigest()])
    # FIPS 180-4's and RFC 7693 Appendix A's examples.
    rows.append(["sha512", "text", "abc", hashlib.sha512(b"abc").hexdigest()])
    rows.append(["blake2b", "text", "abc",
                 "ba80a53f981c4d0d6a2797b69f12f6e94c212f14685ac4b74b12bb6fdbffa2d1"
                 "7d87c5392aab792dc252d5de4533cc9518d38aa8dbf1925ab92386edd4009923"])

    for name, key, message, sig in RFC8032:
        rows.append(["ed25519", name, key, message, sig, "valid"])
    key1, sig1 = RFC8032[0][1], RFC8032[0][3]
    r1, s1 = sig1[:64], int.from_bytes(bytes.fromhex(sig1[64:]), "little")
    identity, zero = le(1), le(0)
    bent = [
        ("S + L verifies like S but is not canonical", key1, "", r1 + le(s1 + L)),
        ("S with the top bits set", key1, "", r1 + sig1[64:126] + "ff"),
        ("another message", key1, "00", sig1),
        ("a changed bit of R", key1, "", "e4" + sig1[2:]),
        ("another key", RFC8032[1][1], "", sig1),
        ("identity key: [0]B = R + [k]A holds for any message", identity, "6d7367", identity + zero),
        ("key of order 2", le(P - 1), "6d7367", identity + zero),
        ("key of order 4 (y = 0)", le(0), "6d7367", identity + zero),
        ("identity key as y = p + 1", le(P + 1), "6d7367", identity + zero),
        ("identity key with the sign of x set", le(1 + 2**255), "6d7367", identity + zero),
        ("R of order 2", key1, "", le(P - 1) + sig1[64:]),
        ("R as y = p + 1", key1, "", le(P + 1) + zero),
        ("key not on the curve (y = 2)", le(2), "", sig1),
    ]
    for name, key, message, sig in bent:
        rows.append(["ed25519", name, key, message, sig, "refused"])

    path = os.path.join(os.path.dirname(__file__), "..", "tests", "data", "update",
                        "signature_vectors.json")
    with open(path, "w") as f:
        f.write('{\n  "_": %s,\n  "rows": [\n' % json.dumps(NOTE))
        f.write(",\n".join("    " + json.dumps(row) for row in rows))
        f.write("\n  ]\n}\n")


if __name__ == "__main__":
    main()
