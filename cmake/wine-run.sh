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
# No winemenubuilder: a test's shortcut must not reach the Linux user's menus.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}
unset DISPLAY
# A wineserver that outlives each program, started detached from our output:
# otherwise every run waits seconds for Wine's helper processes to wind down,
# and a server that inherited ctest's pipe keeps ctest waiting for its end.
# It stops by itself 30 s after the last program exits.
if setsid wineserver -p30 </dev/null >/dev/null 2>&1; then
  setsid wine cmd /c exit </dev/null >/dev/null 2>&1 || true
fi
# A test program writes before it can fail. One that fails having written
# nothing never reached its own code: Wine did not start it (seen once in CI,
# in 0.04 s, under load). It gets one more start, noted beside the prefix.
# Its output goes through a file, not a pipe, so that a process it leaves
# running cannot hold the run open; tail streams the file meanwhile.
out=$(mktemp "$prefix.out.XXXXXX")
trap 'rm -f "$out"' EXIT
wine "$@" <&0 >"$out" &
pid=$!
tail -s 0.1 -n +1 -f --pid="$pid" "$out" &
status=0
wait "$pid" || status=$?
wait
if [ "$status" -ne 0 ] && [ ! -s "$out" ]; then
  note="wine-run: $* ended with status $status before writing anything; starting it again"
  echo "$note" >&2
  echo "$(date -u +%FT%TZ) $note" >>"$prefix.retries.log"
  rm -f "$out"
  exec wine "$@"
fi
exit "$status"
