#!/usr/bin/env bash
# Extraction of a 200 MB stored cabinet with 'pelmo-tool cab extract' side by
# side with 'cp' of the same bytes, alternating, several rounds; then the
# extractor's peak memory for a 20 MB and a 200 MB cabinet, which must be the
# same.
# usage: bench/cabinet_extract_vs_cp.sh [BUILD_DIR] [ROUNDS]
set -euo pipefail
build=${1:-build}
rounds=${2:-5}
tool="$build/tools/pelmo-tool"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

now() { date +%s.%N; }

head -c $((200 * 1024 * 1024)) /dev/urandom > "$work/payload.bin"
"$tool" cab create -o "$work/big.cab" "$work/payload.bin" > /dev/null
sync

cp_total=0
cab_total=0
ratios=()
run_cp() {
  rm -f "$work/copy.bin"; sync
  local t0 t1; t0=$(now); cp "$work/big.cab" "$work/copy.bin"; t1=$(now)
  cp_time=$(echo "$t1 - $t0" | bc -l)
}
run_extract() {
  rm -rf "$work/out"; sync
  local t0 t1; t0=$(now); "$tool" cab extract -d "$work/out" "$work/big.cab" > /dev/null; t1=$(now)
  cab_time=$(echo "$t1 - $t0" | bc -l)
  cmp -s "$work/payload.bin" "$work/out/payload.bin" || { echo "extracted bytes differ"; exit 1; }
}
# Alternate which goes first, and start each from a synced page cache, so
# that neither pays for the other's write-back.
for i in $(seq "$rounds"); do
  if [ $((i % 2)) -eq 1 ]; then run_cp; run_extract; else run_extract; run_cp; fi
  cp_total=$(echo "$cp_total + $cp_time" | bc -l)
  cab_total=$(echo "$cab_total + $cab_time" | bc -l)
  ratios+=("$(echo "100 * $cp_time / $cab_time" | bc -l)")
  printf 'round %d: cp %.3f s, extract %.3f s\n' "$i" "$cp_time" "$cab_time"
done
median=$(printf '%s\n' "${ratios[@]}" | sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}')
printf 'extract speed relative to cp: %.1f%% over all rounds, median of rounds %.1f%% (target: at least 80%%)\n' \
  "$(echo "100 * $cp_total / $cab_total" | bc -l)" "$median"

head -c $((20 * 1024 * 1024)) "$work/payload.bin" > "$work/small.bin"
"$tool" cab create -o "$work/small.cab" "$work/small.bin" > /dev/null
small=$(/usr/bin/time -f %M "$tool" cab extract -d "$work/out_small" "$work/small.cab" 2>&1 >/dev/null | tail -n 1)
large=$(/usr/bin/time -f %M "$tool" cab extract -d "$work/out_large" "$work/big.cab" 2>&1 >/dev/null | tail -n 1)
echo "peak resident memory: ${small} KiB for 20 MB, ${large} KiB for 200 MB"
