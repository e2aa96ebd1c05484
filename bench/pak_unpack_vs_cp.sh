#!/usr/bin/env bash
# Unpacking a compound file with `pelmo-tool pak unpack` against `cp -r` of
# the same tree, side by side in one run. Prints the best of several rounds of
# each and the ratio (cp time / unpack time; 1.0 = as fast as cp).
#
#   bench/pak_unpack_vs_cp.sh [PELMO_TOOL] [MEGABYTES] [FILES] [ROUNDS]
#
# Defaults: build/tools/pelmo-tool, 500 MB in 3000 files (a third of them
# small enough for the mini stream), 3 rounds. Needs about 4 x MEGABYTES of
# space in ${TMPDIR:-/tmp}.
set -euo pipefail

tool=${1:-build/tools/pelmo-tool}
megabytes=${2:-500}
files=${3:-3000}
rounds=${4:-3}
tool=$(realpath "$tool")

work=$(mktemp -d "${TMPDIR:-/tmp}/pelmo-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT

python3 - "$work/tree" "$megabytes" "$files" <<'PY'
import os, random, sys
root, megabytes, files = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
random.seed(1)
small = files // 3
large = files - small
small_sizes = [random.randint(1, 4095) for _ in range(small)]
budget = megabytes * 1024 * 1024 - sum(small_sizes)
weights = [random.random() + 0.2 for _ in range(large)]
scale = budget / sum(weights)
sizes = small_sizes + [max(4096, int(w * scale)) for w in weights]
random.shuffle(sizes)
block = os.urandom(1 << 20)
for i, size in enumerate(sizes):
    folder = os.path.join(root, "d%02d" % (i % 30), "s%d" % (i % 7))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "f%05d.bin" % i), "wb") as f:
        f.write(bytes([i % 251]) * 16)  # differs from file to file
        left = size - 16
        while left > 0:
            n = min(left, len(block))
            f.write(block[:n])
            left -= n
PY

"$tool" pak pack "$work/tree" "$work/tree.pak"
echo "tree: $(du -sm "$work/tree" | cut -f1) MB in $(find "$work/tree" -type f | wc -l) files;" \
     "compound file: $(( $(stat -c %s "$work/tree.pak") / 1048576 )) MB"

python3 - "$tool" "$work" "$rounds" <<'PY'
import filecmp, os, shutil, subprocess, sys, time
tool, work, rounds = sys.argv[1], sys.argv[2], int(sys.argv[3])
def timed(argv):
    """Wall time and processor time (user + system) of one command."""
    before = os.times()
    start = time.perf_counter()
    subprocess.run(argv, check=True, stdout=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    after = os.times()
    cpu = (after.children_user - before.children_user) + (after.children_system - before.children_system)
    return wall, cpu
best_unpack = best_cp = (float("inf"), float("inf"))
for round in range(1, rounds + 1):
    for out in ("unpacked", "copied"):
        shutil.rmtree(os.path.join(work, out), ignore_errors=True)
    os.sync()
    # Alternate the order so that neither always runs first.
    unpack_cmd = [tool, "pak", "unpack", os.path.join(work, "tree.pak"), os.path.join(work, "unpacked")]
    cp_cmd = ["cp", "-r", os.path.join(work, "tree"), os.path.join(work, "copied")]
    if round % 2:
        unpack = timed(unpack_cmd)
        cp = timed(cp_cmd)
    else:
        cp = timed(cp_cmd)
        unpack = timed(unpack_cmd)
    print("round %d: unpack %.3f s (cpu %.3f s), cp -r %.3f s (cpu %.3f s)" % (round, *unpack, *cp))
    best_unpack = tuple(map(min, best_unpack, unpack))
    best_cp = tuple(map(min, best_cp, cp))
same = subprocess.run(["diff", "-rq", os.path.join(work, "tree"), os.path.join(work, "unpacked")],
                      stdout=subprocess.DEVNULL).returncode == 0
print("unpacked tree is identical to the source" if same else "UNPACKED TREE DIFFERS")
print("best wall time: unpack %.3f s, cp -r %.3f s; unpack speed relative to cp -r: %.2f"
      % (best_unpack[0], best_cp[0], best_cp[0] / best_unpack[0]))
print("best cpu time:  unpack %.3f s, cp -r %.3f s; ratio %.2f"
      % (best_unpack[1], best_cp[1], best_cp[1] / max(best_unpack[1], 1e-9)))
sys.exit(0 if same else 1)
PY
