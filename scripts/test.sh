#!/usr/bin/env bash
# Builds and runs every test: natively under ASan+UBSan, the Windows build
# under Wine in a private prefix, short libFuzzer runs, the Lua library's
# compile check, lint and busted tests under Lua 5.4, and the format and
# clang-tidy lint of the C++.
# Usage: scripts/test.sh [lint|lua|native|windows|fuzz]...   (default: all)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh

stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=(lint lua native windows fuzz)

# As root, permission bits would not stop a write; drop the capabilities that
# bypass them so read-only files and folders behave as for an ordinary user.
as_user() {
  if [ "$(id -u)" -eq 0 ]; then
    setpriv --bounding-set -dac_override,-dac_read_search -- "$@"
  else
    "$@"
  fi
}

failed=0
for stage in "${stages[@]}"; do
  case "$stage" in
    lint)
      scripts/lint.sh || failed=1
      ;;
    native)
      cmake --preset native-asan >/dev/null
      cmake --build --preset native-asan
      as_user ctest --preset native-asan || failed=1
      ;;
    windows)
      cmake --preset windows >/dev/null
      cmake --build --preset windows
      as_user ctest --preset windows || failed=1
      # The same program with the test release key: only signed runtimes install.
      cmake --preset windows-test-key >/dev/null
      cmake --build --preset windows-test-key --target e2e_tools
      as_user ctest --preset windows-test-key -L e2e || failed=1
      # The published build: stripped, its symbols in the debug file it links to.
      # Compiled as the windows build was, so the compiler cache serves it.
      cmake --preset windows-release >/dev/null
      cmake --build --preset windows-release --target tarnwick_setup
      scripts/split_debug.sh --check build/windows-release/Tarnwick-Setup.exe || failed=1
      ;;
    fuzz)
      compgen -G "fuzz/*_fuzz.cpp" >/dev/null || continue
      cmake --preset fuzz >/dev/null
      cmake --build --preset fuzz
      as_user ctest --test-dir build/fuzz --output-on-failure || failed=1
      ;;
    lua)
      # Every module must compile, the library and its tests must lint clean, then busted.
      lua_ok=1
      while IFS= read -r -d '' f; do
        luac5.4 -p "$f" || lua_ok=0
      done < <(find payload/lua -name '*.lua' -print0 | sort -z)
      luacheck --no-color -q payload/lua tests/lua examples scripts/site tests/data/site bench || lua_ok=0
      # The DAVE interop test needs node and the npm peer; its absence fails the stage.
      if ! command -v node >/dev/null || [ ! -e tests/dave-peer/node_modules/@snazzah/davey-linux-x64-gnu/package.json ]
      then
        echo "lua: node or tests/dave-peer/node_modules is missing: run scripts/bootstrap.sh" >&2
        lua_ok=0
      fi
      busted --lua=lua5.4 || lua_ok=0
      [ $lua_ok -eq 1 ] || failed=1
      ;;
    *) echo "unknown stage: $stage" >&2; exit 2 ;;
  esac
done
exit $failed
