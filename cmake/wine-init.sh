#!/usr/bin/env bash
# Creates the build's private Wine prefix once; the tests must not race to create it.
set -euo pipefail
prefix=$1
stamp=$2
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY
if [ ! -f "$prefix/system.reg" ]; then
  wineboot --init >/dev/null 2>&1
  wineserver -w
fi
touch "$stamp"
