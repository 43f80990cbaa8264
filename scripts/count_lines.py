#!/usr/bin/env python3
"""Counts non-blank, non-comment lines: the C++ product (.cpp, .h, .py) against its test
cases (*_test.cpp) and harness, the Lua library (payload/lua) against tests/lua, and the
ratio of tests to code for each and overall."""
import os
import sys

PRODUCT = ["app", "install", "update", "net", "support", "extras", "payload"]


def count(path):
    n, in_block = 0, False
    if path.endswith(".py"):
        return sum(1 for line in open(path, encoding="utf-8") if line.strip() and not line.strip().startswith("#"))
    lua = path.endswith(".lua")
    line_comment, block_open, block_close = ("--", "--[[", "]]") if lua else ("//", "/*", "*/")
    for line in open(path, encoding="utf-8", errors="replace"):
        s = line.strip()
        if in_block:
            if block_close not in s:
                continue
            in_block, s = False, s.split(block_close, 1)[1].strip()
        if s.startswith(block_open) or (lua and s.startswith("--[=")):
            close = "]=]" if s.startswith("--[=") else block_close
            in_block = close not in s[len(block_open):]
            block_close = close if in_block else block_close
            continue
        if not s or s.startswith(line_comment):
            continue
        n += 1
    return n


def walk(root, top, suffixes):
    for d, _, files in os.walk(os.path.join(root, top)):
        if "node_modules" in d:
            continue
        for f in files:
            if f.endswith(suffixes):
                yield f, os.path.join(d, f)


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    totals = {}
    for top in PRODUCT + ["tests"]:
        for f, path in walk(root, top, (".cpp", ".h", ".py")):
            key = top
            if top == "tests":
                key = "tests (cases)" if f.endswith("_test.cpp") else "tests (harness)"
            totals[key] = totals.get(key, 0) + count(path)
    lua_lib = sum(count(p) for _, p in walk(root, os.path.join("payload", "lua"), (".lua",)))
    lua_tests = sum(count(p) for _, p in walk(root, os.path.join("tests", "lua"), (".lua",)))
    for k in sorted(totals):
        print(f"{k:18} {totals[k]:6}")
    product = sum(totals.get(k, 0) for k in PRODUCT)
    tests = totals.get("tests (cases)", 0) + totals.get("tests (harness)", 0)
    print(f"{'product':18} {product:6}\n{'tests':18} {tests:6}\nratio {tests / max(product, 1):.3f}\n")
    print(f"{'lua library':18} {lua_lib:6}\n{'lua tests':18} {lua_tests:6}\nratio {lua_tests / max(lua_lib, 1):.3f}\n")
    print(f"overall ratio {(tests + lua_tests) / max(product + lua_lib, 1):.3f}")


if __name__ == "__main__":
    main()
