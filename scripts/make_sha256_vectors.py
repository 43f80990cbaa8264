#!/usr/bin/env python3
"""Writes tests/data/update/sha256_vectors.json with Python's hashlib, an
implementation independent of the program's. Run it when the vectors change."""
import hashlib
import os
import json
import random

NOTE = ("Made by make_sha256_vectors.py with Python's hashlib. Rows: "
        "[hex, message, digest] with the lengths of NIST's byte-oriented sets: ShortMsg "
        "(every length 0..64 bytes) and LongMsg (163 + 99k bytes, k = 0..63), random "
        "messages; [text, message, digest] and "
        "[repeat, byte, count, digest]: FIPS 180-4's examples; [lcg, length, digest]: "
        "every length 0..300 and a few large ones, byte i the top byte of step i of "
        "x = x * 1103515245 + 12345 mod 2^32 from x = length.")


def lcg(n):
    out, x = bytearray(n), n
    for i in range(n):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = x >> 24
    return bytes(out)


def main():
    rng = random.Random(20261206)
    rows = []
    for n in list(range(0, 65)) + [163 + 99 * k for k in range(64)]:
        msg = bytes(rng.getrandbits(8) for _ in range(n))
        rows.append(["hex", msg.hex(), hashlib.sha256(msg).hexdigest()])
    rows.append(["text", "abc", hashlib.sha256(b"abc").hexdigest()])
    two = b"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"
    rows.append(["text", two.decode(), hashlib.sha256(two).hexdigest()])
    rows.append(["repeat", "a", 1000000, hashlib.sha256(b"a" * 1000000).hexdigest()])
    for n in list(range(301)) + [4096, 65539, 1 << 20, (1 << 24) + 63]:
        rows.append(["lcg", n, hashlib.sha256(lcg(n)).hexdigest()])
    out = os.path.join(os.path.dirname(__file__), "..", "tests", "data", "update")
    with open(os.path.join(out, "sha256_vectors.json"), "w") as f:
        f.write('{\n  "_": ' + json.dumps(NOTE) + ',\n  "rows": [\n')
        f.write(",\n".join("    " + json.dumps(r) for r in rows) + "\n  ]\n}\n")


if __name__ == "__main__":
    main()
