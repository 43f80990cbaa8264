#!/usr/bin/env bash
# Builds Tarnwick-Setup.exe and runs it under Wine in the build's private
# prefix. Arguments are passed to the program (--silent, --uninstall ...).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake --preset windows >/dev/null
cmake --build --preset windows
cd build/windows
exec ../../cmake/wine-run.sh ./Tarnwick-Setup.exe "$@"
