#!/usr/bin/env bats
# The space check as an archive runs it: -t and its temporary link, and the
# refusal when nothing has room (on small filesystems of a private mount
# namespace).

load helpers

make_archive() {  # OUT [-a]: needs VFYFS=target, FSSUB=app; extracts into target/app
    head -c 1500000 /dev/urandom > data.bin
    "$SXPAK" ${2:-} -V "$WORK/target" -S app -f 'mkdir -p target/app && cat > target/app/data' -r 'ls -ld target/app > seen.txt' data.bin > "$1"
    chmod +x "$1"
}

@test "-t after -u unpacks through a temporary link; -t before -u is ignored" {
    make_archive inst.run
    mkdir target alt
    run --separate-stderr "$SXPAK" -u -t "$WORK/alt/" inst.run
    [ "$status" -eq 0 ]
    cmp data.bin alt/app/data
    [ ! -e target/app ] && [ ! -L target/app ]   # the link is gone after the run
    grep -q "target/app -> $WORK/alt/app" seen.txt  # and was there for the run command
    rm -rf alt/app seen.txt
    run --separate-stderr "$SXPAK" -t "$WORK/alt" -u inst.run
    [ "$status" -eq 0 ]
    cmp data.bin target/app/data
    [ ! -e alt/app ]
}

@test "an existing directory at the link path is refused and kept" {
    make_archive inst.run
    mkdir -p target/app alt
    printf 'keep me' > target/app/precious
    run --separate-stderr "$SXPAK" -u -t "$WORK/alt" inst.run
    [ "$status" -eq 1 ]
    [ "$stderr" = "$(printf '%s: extraction directory exists!\nPlease remove it first then try again.' "$WORK/target/app")" ]
    [ "$(cat target/app/precious)" = "keep me" ]
    [ ! -e alt/app ]
}

@test "without room anywhere the archive says how much it needs and unpacks nothing" {
    [ "$(id -u)" -eq 0 ] || skip "mounting filesystems needs root"
    unshare -m true 2>/dev/null || skip "cannot make a private mount namespace"
    mkdir target small
    # A raw payload needs its own length: it has no size field.
    for kind in "" -a; do
        make_archive inst.run $kind
        run --separate-stderr unshare -m sh -c "
            mount --make-rprivate / &&
            mount -t tmpfs -o size=1m tmpfs '$WORK/target' &&
            mount -t tmpfs -o size=1m tmpfs '$WORK/small' &&
            '$SXPAK' -u -t '$WORK/small' inst.run"
        [ "$status" -eq 1 ]
        [ "$stderr" = "$(printf '%s/small/app: not enough space to extract the archive.\nPlease make at least 2Mb available in %s/target.\nAlternatively, you can make space available on another filesystem where a\n"app" directory can be created. Ensure that the "app" directory\ndoes not exist before trying again.' "$WORK" "$WORK")" ]
        [ ! -e seen.txt ]
    done
}
