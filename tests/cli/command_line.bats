#!/usr/bin/env bats
# The executable's command line, raw archives and the archive container.

load helpers

build_usage() {
    printf "Version: @(#) sxpak 1.2    5/17/2001 \nUsage: %s [-huclva] [-p sxpak_path] [-C 'comment'] [-f 'extract_shell_cmds'] [-r 'run_program_after_extraction'] [-V 'filesystem'] [-S 'fssub'] <files...>\n" "$1"
}

archive_usage() {  # program comment
    printf 'Version: @(#) sxpak 1.2    5/17/2001 \n\n%s\n\nUsage: %s [-hclnvtx]\n' "$2" "$1"
    printf '    -h: show this help\n    -u: use as utility to decompress archive specified on command-line\n    -l: list compression statistics\n    -c: extract to stdout instead of archive name\n    -x: extract only. do not deflate the archive\n    -n: do not run install command after deflating archive\n    -t: temp path for decompression if archive allows\n    -v: verbose output\n'
}

@test "help, unknown options and missing arguments print the usage and exit 1" {
    for args in "-h" "-?" "-z" "-C" "-a -h"; do
        run --separate-stderr "$SXPAK" $args
        [ "$status" -eq 1 ]
        [ -z "$output" ]
        expected=$(build_usage "$SXPAK")
        [[ "$stderr" == *"$expected" ]]
    done
    run --separate-stderr "$SXPAK" -z
    [[ "$stderr" == *"invalid option"* ]]
}

@test "without operands the build usage asks for files" {
    run --separate-stderr "$SXPAK"
    [ "$status" -eq 1 ]
    [ "$stderr" = "$(build_usage "$SXPAK"; printf '%s: what files do you want to compress?' "$SXPAK")" ]
}

@test "a raw archive is laid out byte for byte" {
    printf 'hello\n' > a.tar
    printf 'world\n' > b.txt
    "$SXPAK" -a -C 'My tools' -r './setup' -f 'tar xf -' -V /opt -S tools a.tar b.txt > out.run
    { cat "$SXPAK"; header 'NOCOMPR,VFYFS=/opt,FSSUB=tools,NAME=a.tar' 'My tools' './setup' 'tar xf -'; cat a.tar b.txt; } > expected
    cmp out.run expected
}

@test "defaults: comment, empty commands, NAME from the first operand's last component" {
    mkdir -p dir/sub && printf 'x' > dir/sub/first.bin && printf 'y' > second
    "$SXPAK" -a dir/sub/first.bin second > out.run
    { cat "$SXPAK"; header 'NOCOMPR,NAME=first.bin' 'Self-Extracting archive file' '' ''; printf 'xy'; } > expected
    cmp out.run expected
}

@test "option parsing stops at the first operand" {
    printf 'F' > f && printf 'C' > ./-C && printf 'X' > x
    "$SXPAK" -a f -C x > out.run
    { cat "$SXPAK"; header 'NOCOMPR,NAME=f' 'Self-Extracting archive file' '' ''; printf 'FCX'; } > expected
    cmp out.run expected
}

@test "the magic never occurs in the executable, and once in an archive, right after the preamble" {
    [ -z "$(magic_offsets "$SXPAK")" ]
    printf 'data' > f
    "$SXPAK" -a f > out.run
    [ "$(magic_offsets out.run)" = "$(stat -c %s "$SXPAK")" ]
}

@test "the executable needs only the C library" {
    command -v readelf >/dev/null || skip "readelf is not installed"
    readelf -d "$SXPAK" | grep -q "libasan" && skip "a sanitizer build links its runtime"
    run sh -c "readelf -d '$SXPAK' | grep NEEDED"
    [ "$status" -eq 0 ]
    [ "$(echo "$output" | grep -c NEEDED)" -eq "$(echo "$output" | grep -c 'libc\.so')" ]
}

@test "an archive recognises itself through a path, a relative path, PATH and a symlink" {
    printf 'data' > f
    "$SXPAK" -a -C 'My tools' f > out.run
    chmod +x out.run
    mkdir bin && cp out.run bin/tool && ln -s "$WORK/out.run" link.run
    run --separate-stderr "$WORK/out.run" -h
    [ "$status" -eq 1 ] && [ "$stderr" = "$(archive_usage "$WORK/out.run" 'My tools')" ]
    run --separate-stderr ./out.run -h
    [ "$status" -eq 1 ] && [ "$stderr" = "$(archive_usage ./out.run 'My tools')" ]
    run --separate-stderr ./link.run -h
    [ "$status" -eq 1 ] && [ "$stderr" = "$(archive_usage ./link.run 'My tools')" ]
    run --separate-stderr env PATH="$WORK/bin:/usr/bin:/bin" tool -h
    [ "$status" -eq 1 ] && [ "$stderr" = "$(archive_usage tool 'My tools')" ]
}

@test "-u without an archive asks for one" {
    run --separate-stderr "$SXPAK" -u
    [ "$status" -eq 1 ]
    [ "$stderr" = "$(archive_usage "$SXPAK" 'Self-Extracting archive file'; printf '%s: what archive do you want to extract?' "$SXPAK")" ]
}

@test "over-long arguments and items are refused before anything is written" {
    printf 'data' > f
    long=$(head -c 1024 /dev/zero | tr '\0' c)
    for option in -C -r -f -p; do
        run --separate-stderr "$SXPAK" -a "$option" "$long" f
        [ "$status" -eq 1 ] && [ -z "$output" ]
        [[ "$stderr" == *"-${option#-}"*"too long"* ]]
    done
    item=$(head -c 250 /dev/zero | tr '\0' v)
    run --separate-stderr "$SXPAK" -a -V "$item" f
    [ "$status" -eq 1 ] && [ -z "$output" ] && [[ "$stderr" == *"-V"*"too long"* ]]
    # Items that fit one by one but not together.
    run --separate-stderr "$SXPAK" -a -V "$item" -S "$item" -V "$item" -S "$item" -V "$item" f
    [ "$status" -eq 1 ] && [ -z "$output" ] && [[ "$stderr" == *"feature list"* ]]
    # The longest argument that fits is taken whole.
    fits=$(head -c 1023 /dev/zero | tr '\0' c)
    "$SXPAK" -a -C "$fits" f > out.run
    grep -qa "$fits" out.run
}

@test "an unresolvable preamble writes nothing" {
    printf 'data' > f
    run --separate-stderr "$SXPAK" -a -p /nonexistent/sxpak f
    [ "$status" -eq 1 ] && [ -z "$output" ]
    [ "$stderr" = "/nonexistent/sxpak: unable to find sxpak to build preamble" ]
}

@test "unreadable operands are reported and fail the build; the others are kept" {
    printf 'A' > a && printf 'B' > b
    run --separate-stderr "$SXPAK" -a a missing b
    [ "$status" -eq 1 ]
    [ "$stderr" = "missing: No such file or directory" ]
    mkdir d
    run --separate-stderr "$SXPAK" -a a d
    [ "$status" -eq 1 ]
    [[ "$stderr" == *"d: Is a directory"* ]]
}

@test "a write error ends the build with status 1 and a message" {
    printf 'data' > f
    [ -w /dev/full ] || skip "no /dev/full"
    run --separate-stderr "$SXPAK" -a f
    run --separate-stderr sh -c "'$SXPAK' -a f > /dev/full"
    [ "$status" -eq 1 ]
    [[ "$stderr" == *"stdout: No space left on device"* ]]
}

@test "the magic is found after a preamble ending in s or sx, and across a read boundary" {
    printf 'payload' > f
    for tail in 's' 'sx' 'sxpak' ; do
        printf '#!/bin/sh\nexit 0\n%s' "$tail" > pre && chmod +x pre
        "$SXPAK" -a -p ./pre f > arc.run
        run --separate-stderr "$SXPAK" -u -x arc.run
        [ "$status" -eq 0 ] && [ "$output" = "payload" ]
    done
    # The magic straddles the end of the first 8191-byte read.
    for size in 8185 8186 8190 8191; do
        head -c "$size" /dev/zero > pre && chmod +x pre
        "$SXPAK" -a -p ./pre f > arc.run
        run --separate-stderr "$SXPAK" -u -x arc.run
        [ "$status" -eq 0 ] && [ "$output" = "payload" ]
    done
}

@test "a header string without its end is refused, in a named archive and in the program's own file" {
    long=$(head -c 1100 /dev/zero | tr '\0' A)
    { cat "$SXPAK"; printf 'sxpak+magik%s' "$long"; } > bad.run
    chmod +x bad.run
    run --separate-stderr "$SXPAK" -l bad.run
    [ "$status" -eq 1 ] && [ -z "$output" ]
    [ "$stderr" = "bad.run: corrupted archive header: the feature list is longer than 1023 characters" ]
    run --separate-stderr ./bad.run -h
    [ "$status" -eq 1 ]
    [ "$stderr" = "./bad.run: corrupted archive header: the feature list is longer than 1023 characters" ]
    # The comment too; a string of exactly 1023 characters is accepted.
    fits=$(head -c 1023 /dev/zero | tr '\0' B)
    { cat "$SXPAK"; printf 'sxpak+magikNOCOMPR\0%s\0%s' "$fits" "$long"; } > bad2.run
    run --separate-stderr "$SXPAK" -l bad2.run
    [ "$status" -eq 1 ]
    [ "$stderr" = "bad2.run: corrupted archive header: the run command is longer than 1023 characters" ]
}
