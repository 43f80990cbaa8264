#!/usr/bin/env bash
# Builds Tarnwick-Setup.exe (with the stand-in runtime embedded) and runs a
# first install under Wine in a private prefix, inside a private network and
# mount namespace where a local server answers as the update service and the
# two extras hosts (tests/e2e/run_e2e.py --demo). The prefix is kept in
# build/windows/e2e/demo, so a second run sees the installation. Arguments go
# to the program: scripts/run.sh --silent, scripts/run.sh --uninstall.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
cmake --preset windows >/dev/null
cmake --build --preset windows --target e2e_tools
exec python3 tests/e2e/run_e2e.py --build build/windows --demo "$@"
