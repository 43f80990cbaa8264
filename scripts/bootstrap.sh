#!/usr/bin/env bash
# Installs every Debian package the build and the tests need, when missing.
# Fast when everything is present.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev python3
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64
  googletest libssl-dev openssl
  libarchive-tools lua5.4 lua-busted lua-dkjson lua-check curl util-linux iproute2 osslsigncode minisign
  ccache clang-format clang-tidy nodejs ffmpeg graphviz chromium
)

missing=()
# Node's own builds of nodejs bring npm; Debian's ship it apart.
command -v npm >/dev/null || missing+=(npm)
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "bootstrap: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -q
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

# The DAVE interop test's independent peer comes from npm, pinned with its integrity by the lock file.
# An optional dependency that fails its check is skipped by npm ci, so the native binary is checked too.
peer="$(dirname "$0")/../tests/dave-peer"
if [ ! -e "$peer/node_modules/@snazzah/davey-linux-x64-gnu/package.json" ]; then
  echo "bootstrap: npm ci in $peer"
  (cd "$peer" && npm ci --no-audit --no-fund)
  [ -e "$peer/node_modules/@snazzah/davey-linux-x64-gnu/package.json" ] || {
    echo "bootstrap: $peer: the native @snazzah/davey binary did not install (integrity or platform)" >&2
    exit 1
  }
fi

# discord.js for the Lua library's benchmark beside it (scripts/bench.sh --lua), pinned by its lock file.
bench_js="$(dirname "$0")/../bench/js"
if [ ! -e "$bench_js/node_modules/discord.js/package.json" ]; then
  echo "bootstrap: npm ci in $bench_js"
  (cd "$bench_js" && npm ci --no-audit --no-fund)
fi
