#!/usr/bin/env bash
# Checks the installed sxpak as a user would meet it: installed into a prefix,
# it builds, lists and unpacks an archive of several thousand files (a tar of
# /usr/include) in a directory whose path has a blank, and the same archive
# runs from another directory through PATH.
set -euo pipefail
build=${1:-build}
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d "/tmp/sxpak installed XXXXXX")
trap 'rm -rf "$work"' EXIT

cmake --install "$root/$build" --prefix "$work/prefix" > /dev/null
export PATH="$work/prefix/bin:$PATH"
[ "$(command -v sxpak)" = "$work/prefix/bin/sxpak" ]

mkdir -p "$work/my files/out" "$work/elsewhere" "$work/bin"
cd "$work/my files"
tar cf include.tar -C /usr include
files=$(tar tf include.tar | grep -vc '/$')
sxpak -C 'Headers' -f 'tar xf -' -r 'find include ! -type d | wc -l > count.txt' include.tar > headers.run
chmod +x headers.run
listing=$(sxpak -l headers.run)
grep -q ' include.tar$' <<< "$listing"
sxpak -u -x headers.run 2>/dev/null | cmp - include.tar

(cd out && ../headers.run 2>/dev/null)
[ "$(tr -d ' ' < out/count.txt)" -eq "$files" ]
diff -r --no-dereference /usr/include out/include > /dev/null

# The same archive, found through PATH, from another directory.
cp headers.run "$work/bin/headers-installer"
(cd "$work/elsewhere" && PATH="$work/bin:$PATH" headers-installer 2>/dev/null)
diff -r --no-dereference /usr/include "$work/elsewhere/include" > /dev/null
echo "installed sxpak: $files files packed, listed and unpacked under '$work'"
