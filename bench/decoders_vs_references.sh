#!/usr/bin/env bash
# Our MSZIP, LZX and Quantum decoders against zlib's inflate (and, for MSZIP,
# libdeflate) on a corpus of this machine's files, side by side in each round;
# prints the median speed ratios with their goals.
# usage: bench/decoders_vs_references.sh [BUILD_DIR] [MIB] [ROUNDS]
set -euo pipefail
build=${1:-build}
cmake --build "$build" -j2 --target bench_decoders_vs_references > /dev/null
exec "$build/bench/bench_decoders_vs_references" "${2:-64}" "${3:-7}"
