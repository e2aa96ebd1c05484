#!/usr/bin/env bash
# The demo: builds what it needs, then upgrades a demo Pelmo client from
# version 2003 to 2005 from a local update source on 127.0.0.1, in a sandbox of
# its own (settings store, temporary folder, runtime folder), and shows that a
# second run finds no new version.
#
#   demo/run_demo.sh [--console|--window]
#
# With a display (DISPLAY or WAYLAND_DISPLAY) the upgrader shows its dialog,
# otherwise it runs in the console; --console and --window force one. BUILD
# names the build folder (default build-demo).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-build-demo}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
mode=auto
case "${1:-}" in
  --console) mode=console ;;
  --window) mode=window ;;
  "") ;;
  *) echo "usage: demo/run_demo.sh [--console|--window]" >&2; exit 2 ;;
esac

say() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
fail() { printf '\ndemo: FAILED: %s\n' "$*" >&2; exit 1; }

say "Building pelmo-upgrader and pelmo-tool in $build"
mkdir -p "$build"
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPELMO_TESTS=OFF \
  -DPELMO_BENCH=OFF > "$build/demo-configure.log" 2>&1 || { cat "$build/demo-configure.log"; fail "configure"; }
cmake --build "$build" -j"$(nproc)" --target pelmo-upgrader pelmo-tool
upgrader="$build/app/pelmo-upgrader"
tool="$build/tools/pelmo-tool"

sandbox="$build/demo-sandbox"
say "Sandbox $sandbox"
rm -rf "$sandbox"
mkdir -p "$sandbox"/{client,www/packages,tmp,run,releases}
chmod 700 "$sandbox/run"
export PELMO_REGISTRY="$sandbox/registry.db"  # the client's settings
export TMPDIR="$sandbox/tmp"                  # the work folder goes below it
export XDG_RUNTIME_DIR="$sandbox/run"         # the instance guards

# The installed client: version 2003's files and the demo client program.
cp -R "$root/demo/content/2003/." "$sandbox/client/"
cp "$root/demo/client/pelmo.exe" "$sandbox/client/pelmo.exe"
chmod +x "$sandbox/client/pelmo.exe"

say "Local update source on 127.0.0.1"
python3 "$root/demo/serve.py" "$sandbox/www" "$sandbox/port" 2> "$sandbox/server.log" &
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$sandbox/port" ] && break; sleep 0.05; done
[ -s "$sandbox/port" ] || fail "the local server did not start"
port=$(cat "$sandbox/port")
base="http://127.0.0.1:$port"

say "Release 2004 and 2005, signed and published with pelmo-tool publish"
for version in 2004 2005; do
  stage="$sandbox/releases/$version"
  cp -R "$root/demo/content/$version" "$stage"
  # A larger file, so that the download takes a moment to watch.
  python3 - "$stage/data/atlas.dat" "$version" <<'PY'
import random, sys
rng = random.Random(int(sys.argv[2]))
words = [bytes(rng.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rng.randint(2, 9))) for _ in range(4000)]
with open(sys.argv[1], "wb") as out:
    size = 0
    while size < 1_200_000:
        line = b" ".join(rng.choice(words) for _ in range(12)) + b"\n"
        out.write(line)
        size += len(line)
    out.write(rng.randbytes(600_000))
PY
done
# The publisher's key pair; the client ships the public key and from then on
# accepts only releases signed with the secret key.
if command -v minisign > /dev/null; then
  minisign -G -W -p "$sandbox/client/pelmo-upgrade.pub" -s "$sandbox/release.key" > /dev/null
else
  "$tool" key generate --no-password -p "$sandbox/client/pelmo-upgrade.pub" -s "$sandbox/release.key"
fi
"$tool" publish --sign "$sandbox/release.key" --base-url "$base/packages" \
  "$sandbox/releases" "$sandbox/www/packages"
echo "manifest $base/packages/versions.xml:"
sed 's/^/    /' "$sandbox/www/packages/versions.xml"
if command -v minisign > /dev/null; then
  minisign -Vm "$sandbox/www/packages/versions.xml" -p "$sandbox/client/pelmo-upgrade.pub" |
    sed 's/^/    minisign: /' || fail "minisign does not verify the manifest"
fi

say "What a client at 2003 would get (pelmo-tool publish check)"
"$tool" publish check --installed 2003 -p "$sandbox/client/pelmo-upgrade.pub" \
  "$base/packages/versions.xml" | sed 's/^/    /' || fail "publish check"

say "Client settings"
"$tool" reg set VERSION dword 2003
"$tool" reg set EXEPATH sz "$sandbox/client/pelmo.exe"
"$tool" reg set UPGRADECFGFILE sz "$base/packages/versions.xml"
"$tool" reg set UPGRADEAUTORUN dword 1
"$tool" reg list | sed 's/^/    /'

window=0
if [ "$mode" = window ] || { [ "$mode" = auto ] && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; }; then
  window=1
fi
if [ "$window" = 1 ]; then
  say "Running pelmo-upgrader (the dialog; it closes itself once the upgrade is complete)"
  status=0
  "$upgrader" || status=$?
else
  say "Running pelmo-upgrader --console"
  status=0
  "$upgrader" --console || status=$?
fi
echo "pelmo-upgrader exit status: $status"

say "Checking the result"
# The client was started without waiting for it: give it a moment.
for _ in $(seq 100); do [ -s "$sandbox/client/client.log" ] && break; sleep 0.05; done
installed=$("$tool" reg get VERSION)
echo "VERSION is now $installed"
[ "$status" = 0 ] || fail "the upgrade did not complete (exit status $status)"
[ "$installed" = 2005 ] || fail "VERSION is $installed, not 2005"
cmp -s "$sandbox/client/readme.txt" "$root/demo/content/2005/readme.txt" || fail "readme.txt is not 2005's"
cmp -s "$sandbox/client/skins/blue.ini" "$root/demo/content/2005/skins/blue.ini" || fail "skins/blue.ini missing"
cmp -s "$sandbox/client/data/atlas.dat" "$sandbox/releases/2005/data/atlas.dat" || fail "data/atlas.dat is not 2005's"
[ -s "$sandbox/client/post_install.log" ] || fail "PelmoUpgrade.exe did not run"
[ ! -e "$sandbox/client/PelmoUpgrade.exe" ] || fail "PelmoUpgrade.exe was not removed"
[ -s "$sandbox/client/client.log" ] || fail "the client was not started"
echo "client folder $sandbox/client:"
(cd "$sandbox/client" && find . -type f | sort | sed 's/^/    /')
echo "client.log: $(cat "$sandbox/client/client.log")"

say "A second run: nothing newer is offered"
second=0
"$upgrader" --console || second=$?
echo "pelmo-upgrader exit status: $second"
[ "$second" = 1 ] || fail "the second run ended with status $second, expected 1 (no new version)"

say "Demo complete: 2003 -> 2005 from $base, client restarted"
