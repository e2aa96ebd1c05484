#!/usr/bin/env bash
# install_tree_test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1 source=$2
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=/opt/pelmo
DESTDIR=$stage cmake --install "$build" --prefix "$prefix" > "$stage/install.log"
root=$stage$prefix
libdir=$(dirname "$(dirname "$(find "$root" -name pelmo-cabinet.pc)")")

for file in bin/pelmo-upgrader bin/pelmo-tool libexec/pelmo/pelmo-tool-manifest \
  libexec/pelmo/pelmo-tool-publish \
  include/pelmo/cabinet.h share/man/man1/pelmo-upgrader.1.gz share/man/man1/pelmo-tool.1.gz \
  share/bash-completion/completions/pelmo-tool share/doc/pelmo-upgrader/copyright; do
  [ -e "$root/$file" ] || fail "$file is not installed"
done
for file in libpelmo-cabinet.a libpelmo-cabinet.so libpelmo-cabinet.so.1; do
  [ -e "$libdir/$file" ] || fail "$file is not installed"
done
find "$stage" -path "$root" -prune -o -type f ! -name install.log -print | grep . && fail "files outside the prefix"

# The shared library: a soname, and nothing exported but the entry points.
objdump -p "$libdir/libpelmo-cabinet.so.1" | grep -q 'SONAME *libpelmo-cabinet.so.1$' ||
  fail "no soname libpelmo-cabinet.so.1"
exported=$(nm -D --defined-only "$libdir/libpelmo-cabinet.so.1" |
  awk '$2 != "A" { sub(/@.*/, "", $3); print $3 }' | sort | xargs)
[ "$exported" = "CabCopy CabCreate CabDestroy CabIsCabinet" ] || fail "exported: $exported"

# pelmo-tool links no network, TLS or XML library: the commands that need them
# are its siblings' (the build records every library a link line names).
linked=$(objdump -p "$root/bin/pelmo-tool" | awk '$1 == "NEEDED" { print $2 }' | xargs)
[[ " $linked" =~ \ lib(curl|ssl|crypto|pugixml) ]] && fail "pelmo-tool links $linked"

# The manual pages render without complaint.
for page in "$root"/share/man/man1/*.1.gz; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 > /dev/null)
  [ -z "$warnings" ] || fail "$page: $warnings"
done

# The installed pelmo-tool makes a cabinet and finds its sibling in libexec/.
export PATH=/usr/bin:/bin
mkdir -p "$stage/content/docs"
printf 'hello\n' > "$stage/content/a.txt"
head -c 100000 /dev/zero > "$stage/content/docs/b.bin"
"$root/bin/pelmo-tool" cab create --codec lzx:16 -o "$stage/two.cab" "$stage/content" > /dev/null
"$root/bin/pelmo-tool" manifest --help 2>&1 | grep -q 'usage: pelmo-tool manifest' ||
  fail "pelmo-tool manifest does not find pelmo-tool-manifest"
"$root/bin/pelmo-tool" publish --help 2>&1 | grep -q 'usage: pelmo-tool publish' ||
  fail "pelmo-tool publish does not find pelmo-tool-publish"

# The README's example, built with pkg-config against the shared library and
# linked with the static one, lists that cabinet.
awk '/^```c$/ { on = 1; next } /^```$/ { on = 0 } on' "$source/README.md" > "$stage/cablist.c"
export PKG_CONFIG_SYSROOT_DIR=$stage PKG_CONFIG_PATH=$libdir/pkgconfig
# shellcheck disable=SC2046
cc -Wall -Wextra -Werror "$stage/cablist.c" $(pkg-config --cflags --libs pelmo-cabinet) \
  -o "$stage/cablist"
cc -Wall -Wextra -Werror "$stage/cablist.c" $(pkg-config --cflags pelmo-cabinet) \
  "$libdir/libpelmo-cabinet.a" -lstdc++ -o "$stage/cablist-static"
expected=$(printf '%10d  %s\n' 6 a.txt 100000 'docs\b.bin')
for program in "$stage/cablist" "$stage/cablist-static"; do
  listed=$(LD_LIBRARY_PATH=$libdir "$program" "$stage/two.cab")
  [ "$listed" = "$expected" ] || fail "$(basename "$program") listed: $listed"
done
LD_LIBRARY_PATH=$libdir "$stage/cablist" "$stage/content/a.txt" 2> /dev/null &&
  fail "cablist accepted a file that is not a cabinet"
echo "install tree: ok"
