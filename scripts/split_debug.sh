#!/usr/bin/env bash
# Moves the symbols and debug sections of a Windows executable into EXE.debug
# beside it and leaves the program stripped, with a debug link that names that
# file, so a crash report can be read against the published build.
# Usage: scripts/split_debug.sh EXE          split
#        scripts/split_debug.sh --check EXE  no symbol table left, and the link
#                                            names EXE.debug with its CRC-32
set -euo pipefail
prefix=${TARN_BINUTILS_PREFIX:-x86_64-w64-mingw32-}
check=0
if [ "${1:-}" = --check ]; then check=1; shift; fi
exe=$1
debug=$exe.debug

# Split twice, the second --only-keep-debug would overwrite the symbols with none.
if [ $check -eq 0 ] && "${prefix}objdump" -h "$exe" | grep -q ' \.gnu_debuglink '; then
  echo "$exe is split already; link it again to split it" >&2
  exit 1
fi
if [ $check -eq 0 ]; then
  "${prefix}objcopy" --only-keep-debug "$exe" "$debug"
  "${prefix}objcopy" --strip-all --add-gnu-debuglink="$debug" "$exe"
  exit 0
fi

table=$("${prefix}objdump" -t "$exe")
grep -qx 'no symbols' <<<"$table" || { echo "$exe still has a symbol table" >&2; exit 1; }
if "${prefix}objdump" -h "$exe" | grep -q ' \.debug_'; then
  echo "$exe still has debug sections" >&2; exit 1
fi
symbols=$("${prefix}nm" "$debug")
grep -q ' T main$' <<<"$symbols" || { echo "$debug has no symbol main" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
link=$work/link
"${prefix}objcopy" --dump-section .gnu_debuglink="$link" "$exe" "$work/copy" 2>/dev/null ||
  { echo "$exe has no debug link" >&2; exit 1; }
python3 - "$link" "$debug" <<'PY'
import os, struct, sys, zlib
data = open(sys.argv[1], "rb").read()
name = data[:data.index(b"\0")].decode()
crc, = struct.unpack("<I", data[-4:])
want = zlib.crc32(open(sys.argv[2], "rb").read()) & 0xffffffff
if name != os.path.basename(sys.argv[2]) or crc != want:
    sys.exit("debug link names %s (CRC %08x), not %s (CRC %08x)" % (
        name, crc, os.path.basename(sys.argv[2]), want))
PY
