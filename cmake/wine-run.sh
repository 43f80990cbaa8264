#!/usr/bin/env bash
# Runs a Windows program under Wine in the build's own prefix, never ~/.wine.
# The prefix is the folder named by TARN_WINEPREFIX, else wineprefix/ in the
# current build folder (ctest runs from there).
set -euo pipefail
prefix=${TARN_WINEPREFIX:-}
if [ -z "$prefix" ]; then
  dir=$PWD
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  prefix=$dir/wineprefix
fi
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY
# A wineserver that outlives each program, started detached from our output:
# otherwise every run waits seconds for Wine's helper processes to wind down,
# and a server that inherited ctest's pipe keeps ctest waiting for its end.
# It stops by itself 30 s after the last program exits.
if setsid wineserver -p30 </dev/null >/dev/null 2>&1; then
  setsid wine cmd /c exit </dev/null >/dev/null 2>&1 || true
fi
exec wine "$@"
