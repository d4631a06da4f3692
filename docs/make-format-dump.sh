#!/bin/sh
# Regenerates the example dumps in FORMAT.md from a built executable.
#
#   docs/make-format-dump.sh BUILD/sxpak [FORMAT.md]
#
# Rewrites the lines between the two GENERATED markers of FORMAT.md (by
# default the one beside this script) and prints the new block. The inputs
# are fixed, so a rerun with an unchanged build changes nothing.
set -eu

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
    echo "usage: $0 path/to/sxpak [FORMAT.md]" >&2
    exit 2
fi
case $1 in
    /*) sxpak=$1 ;;
    *) sxpak=$(pwd)/$1 ;;
esac
doc=${2:-$(dirname "$0")/FORMAT.md}
[ -x "$sxpak" ] || { echo "$0: $sxpak is not an executable" >&2; exit 1; }
[ -f "$doc" ] || { echo "$0: $doc not found" >&2; exit 1; }
if ! grep -q '^<!-- BEGIN GENERATED DUMP' "$doc" || ! grep -q '^<!-- END GENERATED DUMP' "$doc"; then
    echo "$0: $doc has no GENERATED DUMP markers" >&2
    exit 1
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
preamble=$(wc -c < "$sxpak" | tr -d ' ')

# Prints the archive from the end of its preamble on, offsets counted from there.
dump_after_preamble() {
    magic_at=$(grep -obaF 'sxpak+magik' "$1" | head -n 1 | cut -d: -f1)
    if [ "$magic_at" != "$preamble" ]; then
        echo "$0: magic at offset ${magic_at:-none}, expected $preamble" >&2
        exit 1
    fi
    tail -c +$((preamble + 1)) "$1" | od -A d -t x1z -v
}

(
    cd "$work"
    printf 'hello\n' > hello.txt
    "$sxpak" -a -C 'Demo' -r 'ls -l %o' hello.txt > raw.run
    printf 'a' > a
    # Compressed archives need the engine; without it only the raw dump is made.
    if "$sxpak" a > packed.run 2> packed.err; then :; else rm -f packed.run; fi
)

block=$work/block
{
    echo '<!-- BEGIN GENERATED DUMP: docs/make-format-dump.sh BUILD/sxpak -->'
    echo
    echo "Raw archive, preamble $preamble bytes (offsets below count from its end):"
    echo
    echo '```'
    printf '%s\n' "\$ printf 'hello\\n' > hello.txt" \
        "\$ sxpak -a -C 'Demo' -r 'ls -l %o' hello.txt > raw.run"
    echo '```'
    echo
    echo '```'
    dump_after_preamble "$work/raw.run"
    echo '```'
    if [ -f "$work/packed.run" ]; then
        echo
        echo "Compressed archive of the single-byte file \`a\`, built without options:"
        echo
        echo '```'
        dump_after_preamble "$work/packed.run"
        echo '```'
    fi
    echo
    echo '<!-- END GENERATED DUMP -->'
} > "$block"

if [ -f "$work/packed.run" ]; then
    member=$(tail -c 23 "$work/packed.run" | od -A n -t x1 -v | tr -s ' \n' ' ' | sed 's/^ //; s/ $//')
    expected='1f 8b 08 08 00 00 00 00 02 03 61 00 4b 04 00 43 be b7 e8 01 00 00 00'
    if [ "$member" != "$expected" ]; then
        echo "$0: warning: the member for 'a' is not the documented one:" >&2
        echo "  got      $member" >&2
        echo "  expected $expected" >&2
    fi
fi

awk -v block="$block" '
    /^<!-- BEGIN GENERATED DUMP/ { while ((getline line < block) > 0) print line; skip = 1; next }
    /^<!-- END GENERATED DUMP/ { skip = 0; next }
    !skip { print }
' "$doc" > "$work/doc.new"
cat "$work/doc.new" > "$doc"
cat "$block"
