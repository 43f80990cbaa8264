#!/usr/bin/env python3
"""Writes the SHA-256 test data with Python's hashlib (an implementation
independent of the program's). Run once when the vectors change:

    python3 make_sha256_vectors.py   (in this folder)

sha256_nist.rsp   vectors in the layout of NIST's byte-oriented response files:
                  ShortMsg (every length 0..64 bytes), LongMsg (163 + 99k bytes,
                  k = 0..63) with random messages, and the Monte Carlo chain
                  (100 checkpoints of 1000 hashes of MD[i-3] || MD[i-2] || MD[i-1]).
sha256_lengths.txt  digests of generated messages of every length 0..300 and a
                  few large ones ("lcg": byte i is the top byte of the i-th
                  step of x = x * 1103515245 + 12345 mod 2^32, x0 = length), and
                  FIPS 180-4's examples.
"""
import hashlib
import random


def lcg(n):
    out, x = bytearray(n), n
    for i in range(n):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = x >> 24
    return bytes(out)


def main():
    rng = random.Random(20261206)
    lines = ["# Made by make_sha256_vectors.py with Python's hashlib.", "[L = 32]", ""]
    lengths = list(range(0, 65)) + [163 + 99 * k for k in range(64)]
    for n in lengths:
        msg = bytes(rng.getrandbits(8) for _ in range(n))
        lines += ["Len = %d" % (8 * n), "Msg = " + (msg.hex() if n else "00"),
                  "MD = " + hashlib.sha256(msg).hexdigest(), ""]
    seed = bytes(rng.getrandbits(8) for _ in range(32))
    lines += ["Seed = " + seed.hex(), ""]
    for j in range(100):
        md = [seed, seed, seed]
        for _ in range(1000):
            md = [md[1], md[2], hashlib.sha256(md[0] + md[1] + md[2]).digest()]
        seed = md[2]
        lines += ["COUNT = %d" % j, "MD = " + seed.hex(), ""]
    open("sha256_nist.rsp", "w").write("\n".join(lines))

    rows = ["# Made by make_sha256_vectors.py with Python's hashlib: kind, message, digest."]
    rows += ['text "abc" ' + hashlib.sha256(b"abc").hexdigest()]
    two = b"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"
    rows += ['text "%s" %s' % (two.decode(), hashlib.sha256(two).hexdigest())]
    rows += ["repeat 61 1000000 " + hashlib.sha256(b"a" * 1000000).hexdigest()]
    for n in list(range(301)) + [4096, 65539, 1 << 20, (1 << 24) + 63]:
        rows += ["lcg %d %s" % (n, hashlib.sha256(lcg(n)).hexdigest())]
    open("sha256_lengths.txt", "w").write("\n".join(rows) + "\n")


if __name__ == "__main__":
    main()
