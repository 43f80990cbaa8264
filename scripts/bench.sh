#!/usr/bin/env bash
# Builds the benchmarks natively (optimised, no sanitizers) and runs them.
# Usage: scripts/bench.sh [download_bench arguments, e.g. --mib 256 --rounds 9, or --limit-cases]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/bootstrap.sh
command -v curl >/dev/null || { echo "bench.sh needs curl for the comparison" >&2; exit 2; }
cmake --preset native -DTARN_BUILD_BENCH=ON >/dev/null
cmake --build --preset native --target download_bench
build/native/bench/download_bench "$@"
