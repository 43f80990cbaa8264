#!/usr/bin/env bash
# Builds the benchmarks natively (optimised, no sanitizers) and runs the two
# download comparisons against curl: a body into memory (download_bench) and
# the verified runtime download (update_download_bench). Run it on a quiet
# machine: the load is printed beside the figures.
# Usage: scripts/bench.sh [--mib N] [--rounds N]   (or --limit-cases: the 64 MiB limit cases)
#        scripts/bench.sh --lua [--scale S] [--runs N] [--profile]: the Lua library beside discord.js on a
#        generated session, and its DAVE figures (bench/js/compare.js)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
if [[ "${1:-}" == "--lua" ]]; then
  shift
  exec node bench/js/compare.js "$@"
fi
for tool in curl openssl; do
  command -v "$tool" >/dev/null || { echo "bench.sh needs $tool for the comparison" >&2; exit 2; }
done
cmake --preset native -DTARN_BUILD_BENCH=ON >/dev/null
cmake --build --preset native --target download_bench update_download_bench
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
build/native/bench/download_bench "$@"
if [[ " $* " != *" --limit-cases "* ]]; then
  build/native/update/update_download_bench "$@"
fi
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
