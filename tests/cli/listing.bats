#!/usr/bin/env bats
# The listing of -l: header strings and the statistics line.

load helpers

# The ratio column as the listing computes it: tenths of a percent.
ratio() {  # numerator denominator
    local r
    if [ "$2" -eq 0 ]; then r=0
    elif [ "$2" -le 2147482 ]; then r=$(( $1 * 1000 / $2 ))
    else r=$(( $1 / ($2 / 1000) )); fi
    if [ "$r" -lt 0 ]; then printf -- '-%2d.%1d%%' $(( -r / 10 )) $(( -r % 10 ))
    else printf ' %2d.%1d%%' $(( r / 10 )) $(( r % 10 )); fi
}

@test "a compressed archive lists its strings and one statistics line" {
    head -c 50000 /dev/urandom | od -An -x > data.txt
    printf 'second\n' > more.txt
    compressed_archive inst.run 'NAME=data.txt,VFYFS=/opt,FSSUB=app' 'My app 1.0' './install.sh' '' data.txt more.txt
    pre=$(stat -c %s "$SXPAK")
    hsize=$(header 'NAME=data.txt,VFYFS=/opt,FSSUB=app' 'My app 1.0' './install.sh' '' | wc -c)
    compressed=$(( $(stat -c %s inst.run) - pre - hsize ))
    uncompressed=$(stat -c %s more.txt)   # zlib writes per-member sizes: the last member's
    header_length=$(( 10 + 9 + 8 ))
    expected=$(printf 'Feature: NAME=data.txt,VFYFS=/opt,FSSUB=app\nComment: My app 1.0\n    Run: ./install.sh\nExtract: cat > %%p/%%o\n'
               printf 'compressed  uncompr. ratio uncompressed_name\n'
               printf '%9d %9d %s data.txt' "$compressed" "$uncompressed" "$(ratio $(( uncompressed - (compressed - header_length) )) "$uncompressed")")
    for way in "$SXPAK -l inst.run" "./inst.run -l" "$SXPAK -u -l inst.run"; do
        run --separate-stderr $way
        [ "$status" -eq 0 ]
        [ "$output" = "$expected" ]
        [ -z "$stderr" ]
    done
}

@test "verbose listing adds method, CRC and date; the heading comes once per run" {
    printf 'hello, hello, hello\n' > a.txt
    compressed_archive one.run 'NAME=a.txt' 'c' '' 'tar xf -' a.txt
    compressed_archive two.run 'NAME=a.txt' 'c' '' '' a.txt
    crc=$(tail -c 8 one.run | od -An -tx4 -N4 | tr -d ' ')
    run --separate-stderr env TZ=UTC "$SXPAK" -v -l one.run two.run
    [ "$status" -eq 0 ]
    [ "$(echo "$output" | grep -c '^method  crc     date  time  compressed  uncompr. ratio uncompressed_name$')" -eq 1 ]
    [ "$(echo "$output" | grep -c "^defla $crc Jan  1 00:00 ")" -eq 2 ]
    [ "$(echo "$output" | grep -c ' a.txt$')" -eq 2 ]
    echo "$output" | grep -qx 'Extract: tar xf -'
}

@test "raw archives show no statistics and do not use up the heading" {
    printf 'x' > x.txt
    "$SXPAK" -a -C raw x.txt > raw.run
    compressed_archive comp.run 'NAME=x.txt' 'c' '' '' x.txt
    run --separate-stderr "$SXPAK" -l raw.run comp.run
    [ "$status" -eq 0 ]
    [ "$(echo "$output" | head -5)" = "$(printf 'Feature: NOCOMPR,NAME=x.txt\nComment: raw\n    Run: \nExtract: cat > %%p/%%o\nStatistics unavailable because data was not compressed')" ]
    echo "$output" | grep -qx 'compressed  uncompr. ratio uncompressed_name'
}

@test "listing failures set status 1 and go on with the next archive" {
    printf 'x' > x.txt
    compressed_archive good.run 'NAME=x.txt' 'c' '' '' x.txt
    { cat "$SXPAK"; header 'NAME=x' 'c' '' ''; printf 'PK'; } > bad.run
    run --separate-stderr "$SXPAK" -l x.txt bad.run good.run
    [ "$status" -eq 1 ]
    [ "$stderr" = "$(printf 'x.txt: unable to find preamble magic value\n%s: can only handle GZIP compression method' "$SXPAK")" ]
    echo "$output" | grep -q ' x.txt$'
    # Without operands and outside an archive the program lists itself.
    run --separate-stderr "$SXPAK" -l
    [ "$status" -eq 1 ] && [ "$stderr" = "$SXPAK: unable to find preamble magic value" ]
}
