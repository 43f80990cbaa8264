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
exec wine "$@"
