#!/usr/bin/env bats
# The manual page: clean under the mdoc linter, and in step with the options
# the executable accepts.

bats_require_minimum_version 1.5.0

setup() {
    : "${SXPAK_SOURCE_DIR:?SXPAK_SOURCE_DIR must name the source tree}"
    PAGE=$SXPAK_SOURCE_DIR/docs/sxpak.1
}

@test "mandoc -Tlint reports nothing for the manual page" {
    command -v mandoc > /dev/null || skip "mandoc is not installed"
    run mandoc -Tlint "$PAGE"
    echo "$output"
    [ "$status" -eq 0 ]
    [ -z "$output" ]
}

@test "every option letter in the usage texts has an entry in the manual page" {
    : "${SXPAK:?SXPAK must name the built executable}"
    work=$(mktemp -d)
    # The build usage gives the letters in brackets; an archive's help lists
    # one per line.
    run --separate-stderr "$SXPAK" -h
    build_usage=$stderr
    printf 'x' > "$work/x"
    "$SXPAK" -a "$work/x" > "$work/x.run"
    chmod +x "$work/x.run"
    run --separate-stderr "$work/x.run" -h
    archive_usage=$stderr
    rm -rf "$work"

    letters=$(
        {
            printf '%s\n' "$build_usage" | grep -o '\[-[A-Za-z]*\]' | tr -d '[]-' | fold -w1
            printf '%s\n' "$build_usage" | grep -o '\[-[A-Za-z] ' | cut -c3
            printf '%s\n' "$archive_usage" | sed -n 's/^    -\([A-Za-z]\):.*/\1/p'
        } | sort -u
    )
    [ "$(printf '%s\n' "$letters" | wc -l)" -ge 15 ]
    missing=""
    for letter in $letters; do
        grep -Eq "^\.It Fl $letter( |$)|^\.It Fl [A-Za-z] , Fl $letter( |$)" "$PAGE" || missing="$missing -$letter"
    done
    [ -z "$missing" ] || { echo "not documented:$missing"; false; }
}
