#!/usr/bin/env bash
# check_package.sh DEB: installs the Debian package on this machine, uses what
# it installed (versions, manual pages, the library through pkg-config, a short
# upgrade from a local update source), then purges it: nothing of it may be
# left under /usr. Needs root, or sudo.
set -euo pipefail
deb=$(realpath "$1")
source=$(cd "$(dirname "$0")/.." && pwd)
sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
work=$(mktemp -d)
cleanup() {
  $sudo dpkg --purge pelmo-upgrader > /dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "package: FAILED: $*" >&2; exit 1; }
# Settings, work folder, guards and log of a sandbox, not the user's.
mkdir -p "$work"/{tmp,run,state}
chmod 700 "$work/run"
export PELMO_REGISTRY=$work/registry.db TMPDIR=$work/tmp XDG_RUNTIME_DIR=$work/run \
  XDG_STATE_HOME=$work/state XDG_CACHE_HOME=$work/cache
step() { echo "package: $*"; }

version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|; s| ->.*||' > "$work/contents"

step "dpkg -i $(basename "$deb")"
$sudo dpkg -i "$deb" > /dev/null
export PATH=/usr/bin:/bin:/usr/sbin:/sbin

for program in pelmo-tool pelmo-upgrader; do
  [ "$($program --version)" = "$program $version" ] || fail "$program --version"
  man -w "$program" > /dev/null || fail "no manual page for $program"
done
step "pelmo-tool --version: $(pelmo-tool --version); man -w pelmo-tool: $(man -w pelmo-tool)"

# Every library a program or the library links directly comes from a package
# that the package depends on.
for file in /usr/bin/pelmo-upgrader /usr/bin/pelmo-tool /usr/libexec/pelmo/pelmo-tool-manifest \
  /usr/libexec/pelmo/pelmo-tool-publish \
  /usr/lib/*/libpelmo-cabinet.so.1; do
  ldd "$file" | grep -q 'not found' && fail "$file: $(ldd "$file" | grep 'not found')"
  for needed in $(objdump -p "$file" | awk '$1 == "NEEDED" { print $2 }'); do
    path=$(ldd "$file" | awk -v n="$needed" '$1 == n { print $3 }')
    owner=$(dpkg -S "$path" 2> /dev/null || dpkg -S "$(realpath "$path")")
    owner=${owner%%:*}
    [[ ", $depends," == *", $owner "* || ", $depends," == *", $owner,"* ]] ||
      fail "$file needs $needed from $owner, which Depends ($depends) lacks"
  done
done
step "Depends: $depends"

step "the README's example against the installed library"
awk '/^```c$/ { on = 1; next } /^```$/ { on = 0 } on' "$source/README.md" > "$work/cablist.c"
# shellcheck disable=SC2046
cc -Wall -Wextra -Werror "$work/cablist.c" $(pkg-config --cflags --libs pelmo-cabinet) \
  -o "$work/cablist"

step "an upgrade from version 1 to 2 with the installed programs"
mkdir -p "$work"/{client,release/2,www}
cp "$source/demo/client/pelmo.exe" "$work/client/"
echo "version 1" > "$work/client/readme.txt"
echo "version 2" > "$work/release/2/readme.txt"
pelmo-tool pak pack "$work/release/2" "$work/2.pak"
pelmo-tool cab create --codec mszip -o "$work/www/2.cab" "$work/2.pak" > /dev/null
"$work/cablist" "$work/www/2.cab" | grep -q ' 2.pak$' || fail "cablist does not list 2.pak"
printf '<?xml version="1.0"?>\n<versions SrcPath="file://%s"><version ID="2" CABSIZE="%s"/></versions>\n' \
  "$work/www" "$(stat -c %s "$work/www/2.cab")" > "$work/www/versions.xml"
pelmo-tool reg set VERSION dword 1
pelmo-tool reg set EXEPATH sz "$work/client/pelmo.exe"
pelmo-tool reg set UPGRADECFGFILE sz "$work/www/versions.xml"
pelmo-upgrader --console > "$work/upgrade.log" 2>&1 || { cat "$work/upgrade.log"; fail "the upgrade"; }
[ "$(pelmo-tool reg get VERSION)" = 2 ] || fail "VERSION is not 2"
[ "$(cat "$work/client/readme.txt")" = "version 2" ] || fail "the client folder is not at version 2"

step "dpkg --purge pelmo-upgrader"
$sudo dpkg --purge pelmo-upgrader > /dev/null
while read -r path; do
  { [ -e "$path" ] || [ -L "$path" ]; } || continue
  # Folders such as /usr/bin stay: other packages own them.
  [ -d "$path" ] && ! [ -L "$path" ] && dpkg -S "$path" > /dev/null 2>&1 && continue
  fail "$path is left after the purge"
done < "$work/contents"
step "ok: pelmo-upgrader $version installed, used and purged"
