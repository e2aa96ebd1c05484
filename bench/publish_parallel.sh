#!/usr/bin/env bash
# Publishing four versions with `pelmo-tool publish` on all cores against the
# same release on one thread (--jobs 1), side by side in one run. Prints both
# wall times, the ratio (all cores / one thread; the target is at most 0.65
# on two cores) and the peak memory of each run.
#
#   bench/publish_parallel.sh [PELMO_TOOL] [MEGABYTES] [CODEC]
#
# Defaults: build/tools/pelmo-tool, 50 MB per version, lzx:21. Each version
# is text-like data (half of it shared between versions, as releases are)
# in 20 files. Needs about 12 x MEGABYTES of space in ${TMPDIR:-/tmp}.
set -euo pipefail

tool=$(realpath "${1:-build/tools/pelmo-tool}")
megabytes=${2:-50}
codec=${3:-lzx:21}

work=$(mktemp -d "${TMPDIR:-/tmp}/pelmo-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 - "$work/releases" "$megabytes" <<'PY'
import os, random, sys
root, megabytes = sys.argv[1], int(sys.argv[2])
rng = random.Random(1)
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9)))
         for _ in range(6000)]
def text(rng, size):
    out, n = [], 0
    while n < size:
        line = b" ".join(rng.choice(words) for _ in range(12)) + b"\n"
        out.append(line)
        n += len(line)
    return b"".join(out)[:size]
per_file = megabytes * 1024 * 1024 // 20
shared = [text(random.Random(100 + i), per_file) for i in range(10)]
for version in (2004, 2005, 2006, 2007):
    folder = os.path.join(root, str(version))
    os.makedirs(folder)
    own = random.Random(version)
    for i in range(20):
        with open(os.path.join(folder, "file%02d.dat" % i), "wb") as f:
            f.write(shared[i] if i < 10 else text(own, per_file))
PY

run() {  # run NAME ARGS... : prints "seconds peak-KB"
  local out="$work/out-$1"
  shift
  /usr/bin/time -f "%e %M" -o "$work/time" "$tool" publish --codec "$codec" "$@" \
    --base-url http://127.0.0.1/ "$work/releases" "$out" > /dev/null 2>&1
  cat "$work/time"
}

echo "publishing 4 versions of $megabytes MB with $codec on $(nproc) cores"
read -r one one_kb < <(run one --jobs 1)
read -r all all_kb < <(run all)
cmp "$work/out-one/versions.xml" "$work/out-all/versions.xml" > /dev/null ||
  { echo "the two runs published different manifests" >&2; exit 1; }
printf 'one thread: %8.2f s  peak %6d KB\n' "$one" "$one_kb"
printf 'all cores:  %8.2f s  peak %6d KB\n' "$all" "$all_kb"
awk -v a="$all" -v o="$one" 'BEGIN { printf "ratio all/one: %.2f\n", a / o }'
