#!/usr/bin/env python3
"""Counts non-blank, non-comment lines of .cpp, .h and .py files: product code,
test cases (*_test.cpp), test harness, and the ratio of tests to product."""
import os
import sys

PRODUCT = ["app", "install", "update", "net", "support", "extras", "payload"]


def count(path):
    n, in_block = 0, False
    python = path.endswith(".py")
    for line in open(path, encoding="utf-8", errors="replace"):
        s = line.strip()
        if python:
            n += bool(s) and not s.startswith("#")
            continue
        if in_block:
            if "*/" not in s:
                continue
            in_block, s = False, s.split("*/", 1)[1].strip()
        if not s or s.startswith("//"):
            continue
        if s.startswith("/*"):
            in_block = "*/" not in s
            continue
        n += 1
    return n


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    totals = {}
    for top in PRODUCT + ["tests"]:
        for d, _, files in os.walk(os.path.join(root, top)):
            for f in files:
                if not f.endswith((".cpp", ".h", ".py")):
                    continue
                key = top
                if top == "tests":
                    key = "tests (cases)" if f.endswith("_test.cpp") else "tests (harness)"
                totals[key] = totals.get(key, 0) + count(os.path.join(d, f))
    for k in sorted(totals):
        print(f"{k:18} {totals[k]:6}")
    product = sum(totals.get(k, 0) for k in PRODUCT)
    tests = totals.get("tests (cases)", 0) + totals.get("tests (harness)", 0)
    print(f"{'product':18} {product:6}\n{'tests':18} {tests:6}\nratio {tests / max(product, 1):.3f}")


if __name__ == "__main__":
    main()
