#!/usr/bin/env bash
# Fails on a relative link of README.md or docs/ that does not resolve, on a layer
# picture (docs/architecture.svg) that is not what the build draws, on a C++ file that
# differs from the house clang-format, or on a finding of the checks in .clang-tidy.
# Usage: scripts/lint.sh [--fix]  (--fix formats in place)
set -euo pipefail
cd "$(dirname "$0")/.."

mapfile -t files < <(git ls-files -co --exclude-standard -- '*.cpp' '*.h')
if [ "${1:-}" = "--fix" ]; then
  clang-format -i "${files[@]}"
  exit 0
fi

status=0
python3 scripts/check_links.py || {
  echo "lint: broken links above; fix the link or the heading it names" >&2
  status=1
}
python3 scripts/architecture_graph.py --check || status=1

clang-format --dry-run --Werror "${files[@]}" || {
  echo "lint: files differ from .clang-format; scripts/lint.sh --fix formats them" >&2
  status=1
}

# Control flow decides by an Error's kind, never by its words: a product file
# that compares or searches an error's message or function text fails.
text_test='\.(message|function)[[:space:]]*(==|!=|\.(find|rfind|starts_with|ends_with|compare|contains)[[:space:]]*\()'
text_test+='|(==|!=)[[:space:]]*[[:alnum:]_.>-]+\.(message|function)\b'
mapfile -t product < <(printf '%s\n' "${files[@]}" | grep -v '^tests/\|^fuzz/\|^bench/')
if grep -nE "$text_test" "${product[@]}"; then
  echo "lint: decide by Error::kind, not by the message or function text (lines above)" >&2
  status=1
fi

# clang-tidy reads the native build's compile commands; the Windows-only files
# are checked by the compiler's warnings in the Windows build instead.
cmake --preset native-asan >/dev/null
mapfile -t sources < <(printf '%s\n' "${files[@]}" | grep '\.cpp$' | grep -v '_win32' |
  grep -v '^fuzz/\|^bench/\|^tests/lua/')
printf '%s\n' "${sources[@]}" |
  xargs -P "$(nproc)" -n 8 clang-tidy -p build/native-asan --quiet \
    --extra-arg=-Wno-unknown-warning-option 2>/dev/null || {
  echo "lint: clang-tidy findings above" >&2
  status=1
}
exit $status
