# Shared set-up for the command-line tests: a scratch directory per test and
bats_require_minimum_version 1.5.0
# helpers that assemble archives by hand.

setup() {
    : "${SXPAK:?SXPAK must name the built executable}"
    WORK=$(mktemp -d /tmp/sxpak-cli-XXXXXX)
    cd "$WORK"
}

teardown() {
    cd /
    rm -rf "$WORK"
}

# The bytes that follow the preamble: magic and the four header strings.
# header FEATURES COMMENT RUN EXTRACT
header() {
    printf 'sxpak+magik%s\0%s\0%s\0%s\0' "$1" "$2" "$3" "$4"
}

# A gzip member made by zlib: zmember NAME < data
zmember() {
    "$SXPAK_TEST_TOOLS/sxpak_testtool" gzip 9 default "$1"
}

# Number of occurrences of the magic in a file, with their offsets.
magic_offsets() {
    grep -obUa 'sxpak+magik' "$1" | cut -d: -f1
}

# An archive with a compressed payload whose members zlib wrote:
# compressed_archive OUT FEATURES COMMENT RUN EXTRACT FILE...
compressed_archive() {
    local out=$1 features=$2 comment=$3 run_command=$4 extract=$5
    shift 5
    {
        cat "$SXPAK"
        header "$features" "$comment" "$run_command" "$extract"
        for file in "$@"; do zmember "$(basename "$file")" < "$file"; done
    } > "$out"
    chmod +x "$out"
}

# The banner an archive prints before it unpacks, as bats' $stderr holds it
# at the start of the output (without the leading empty line).
banner() {
    printf '%s\n\nPlease wait...\n' "$1"
}
