#!/usr/bin/env bats
# Running archives: the extract command, the run command and its environment,
# the options of an archive, and damaged archives.

load helpers

make_inputs() {
    printf 'first file\n' > one.txt
    head -c 100000 /dev/urandom | od -An -x > two.txt
}

@test "a raw archive unpacks with the default command and runs its command with the features" {
    make_inputs
    "$SXPAK" -a -r 'env > env.txt' -V "$WORK" -S sub one.txt two.txt > inst.run
    chmod +x inst.run
    mkdir out && cd out
    run --separate-stderr ../inst.run
    [ "$status" -eq 0 ]
    [ "$stderr" = "$(banner 'Self-Extracting archive file')" ]
    cat ../one.txt ../two.txt | cmp - one.txt
    grep -qx 'NAME=one.txt' env.txt
    grep -qx 'NOCOMPR=' env.txt
    grep -qx "VFYFS=$WORK" env.txt
    grep -qx 'FSSUB=sub' env.txt
}

@test "a compressed archive unpacks directly, through PATH and with -u" {
    make_inputs
    compressed_archive inst.run 'NAME=two.txt,CUSTOM=1' 'My app' 'env > env.txt' '' two.txt
    mkdir bin && cp inst.run bin/installer
    for way in direct path utility; do
        rm -rf out && mkdir out && cd out
        case $way in
            direct) run --separate-stderr ../inst.run ;;
            path) run --separate-stderr env PATH="$WORK/bin:/usr/bin:/bin" installer ;;
            utility) run --separate-stderr "$SXPAK" -u ../inst.run ;;
        esac
        [ "$status" -eq 0 ]
        [ "$stderr" = "$(banner 'My app')" ]
        cmp ../two.txt two.txt
        grep -qx 'CUSTOM=1' env.txt
        grep -qx 'NAME=two.txt' env.txt
        cd ..
    done
}

@test "-x writes the payload to standard output only" {
    make_inputs
    compressed_archive inst.run 'NAME=one.txt,VFYFS=/nonexistent,FSSUB=xx' 'c' 'touch ran' '' one.txt two.txt
    run --separate-stderr ./inst.run -x
    [ "$status" -eq 0 ]
    [ "$output" = "$(cat one.txt two.txt)" ]
    [ "$stderr" = "$(banner c; printf 'Deflating one.txt...')" ]
    [ ! -e ran ]
    "$SXPAK" -a one.txt two.txt > raw.run
    "$SXPAK" -u -x raw.run 2>/dev/null | cmp - <(cat one.txt two.txt)
}

@test "-c keeps the output name stdout for a compressed payload; -n skips the run command" {
    make_inputs
    compressed_archive inst.run 'NAME=one.txt' 'c' 'touch ran' '' one.txt
    mkdir out && cd out
    ../inst.run -c -n 2>/dev/null
    cmp ../one.txt stdout
    [ ! -e ran ] && [ ! -e one.txt ]
    # -c changes nothing for a raw payload.
    "$SXPAK" -a ../one.txt > ../raw.run && chmod +x ../raw.run
    ../raw.run -c 2>/dev/null
    cmp ../one.txt one.txt
}

@test "verbose without a terminal does not run the command" {
    make_inputs
    compressed_archive inst.run 'NAME=one.txt' 'c' 'touch ran' '' one.txt
    run --separate-stderr ./inst.run -v < /dev/null
    [ "$status" -eq 0 ]
    [ "$output" = "$(printf 'This archive requires more processing using the following command:\n    touch ran\nbut stdin is not a terminal. So forget it.')" ]
    [ "$stderr" = "$(banner c; printf 'Deflating one.txt...')" ]
    [ ! -e ran ]
}

@test "the verbose dialogue on a terminal asks until y or n" {
    command -v script >/dev/null || skip "script(1) is not installed"
    make_inputs
    compressed_archive inst.run 'NAME=one.txt' 'c' 'touch ran' '' one.txt
    for answers in 'maybe\n\nyes\n' 'No\n' ''; do
        rm -f ran one.txt
        run sh -c "printf '$answers' | script -qec './inst.run -v' /dev/null"
        [ "$status" -eq 0 ]
        [[ "$output" == *"OK to run the command? "* ]]
        cmp one.txt <(printf 'first file\n')
        case $answers in
            maybe*) [ -e ran ]; [[ "$output" == *"? (y/n): "*"? (y/n): "* ]] ;;
            *) [ ! -e ran ] ;;
        esac
    done
}

@test "a failing extract command fails the run and the run command is not run" {
    make_inputs
    compressed_archive inst.run 'NAME=one.txt' 'c' 'touch ran' 'cat > /dev/null; exit 3' one.txt
    run --separate-stderr ./inst.run
    [ "$status" -eq 1 ]
    [ "$stderr" = "$(banner c; printf './inst.run: extraction of one.txt failed\nCommand: cat > /dev/null; exit 3')" ]
    [ ! -e ran ]
}

@test "an extract command that stops reading ends the run with the write error" {
    head -c 3000000 /dev/urandom > big.bin
    compressed_archive inst.run 'NAME=big.bin' 'c' 'touch ran' 'exit 0' big.bin
    run --separate-stderr ./inst.run
    [ "$status" -eq 1 ]
    [[ "$stderr" == *"./inst.run: big.bin: Broken pipe" ]]
    [ ! -e ran ]
}

@test "a failing run command is reported" {
    make_inputs
    compressed_archive inst.run 'NAME=one.txt' 'c' 'exit 2' '' one.txt
    run --separate-stderr ./inst.run
    [ "$status" -eq 1 ]
    [ "$stderr" = "$(banner c; printf './inst.run: final processing of one.txt failed\nCommand: exit 2')" ]
}

@test "the default extract command quotes names with blanks and quotes" {
    for name in "my file.txt" "it's \$here.txt" ; do
        printf 'content of %s' "$name" > "$name"
        compressed_archive inst.run "NAME=$name" 'c' '' '' "$name"
        mkdir out && cd out
        ../inst.run 2>/dev/null
        cmp "../$name" "$name"
        [ "$(ls | wc -l)" -eq 1 ]
        cd .. && rm -rf out
    done
}

@test "templates expand %o and %p every time and copy other percent signs" {
    make_inputs
    compressed_archive inst.run 'NAME=one.txt' 'c' 'printf "%s\n" "%o|%p|%o|%%|%x|%" > out.txt' '' one.txt
    ./inst.run 2>/dev/null
    [ "$(cat out.txt)" = "one.txt|$WORK|one.txt|%%|%x|%" ]
}

@test "a command longer than 2047 characters after expansion is refused before anything runs" {
    make_inputs
    long=$(head -c 1000 /dev/zero | tr '\0' '%' | sed 's/%/%p/g' | head -c 1000)
    compressed_archive inst.run 'NAME=one.txt' 'c' '' "$long" one.txt
    mkdir out && cd out
    run --separate-stderr ../inst.run
    [ "$status" -eq 1 ]
    [[ "$stderr" == *"command longer than 2047 characters after expansion"* ]]
    [ -z "$(ls)" ]
}

@test "every member of a multi-member payload is unpacked and verified" {
    make_inputs
    printf 'third\n' > three.txt
    compressed_archive inst.run 'NAME=one.txt' 'c' '' '' one.txt two.txt three.txt
    mkdir out && cd out
    ../inst.run 2>/dev/null
    cat ../one.txt ../two.txt ../three.txt | cmp - one.txt
    cd ..
    "$SXPAK" -u -x inst.run 2>/dev/null > /dev/null
}

@test "damaged archives fail with the exact message and do not run the command" {
    make_inputs
    compressed_archive good.run 'NAME=one.txt' 'c' 'touch ran' '' one.txt two.txt
    size=$(stat -c %s good.run)
    pre=$(stat -c %s "$SXPAK")
    # A flipped bit in the last CRC, a cut trailer, a payload that is not gzip.
    cp good.run crc.run
    printf '\x55' | dd of=crc.run bs=1 seek=$((size - 8)) conv=notrunc status=none
    head -c $((size - 3)) good.run > cut.run
    { cat "$SXPAK"; header 'NAME=x' 'c' 'touch ran' ''; printf 'not gzip'; } > magic.run
    chmod +x crc.run cut.run magic.run
    run --separate-stderr ./crc.run
    [ "$status" -eq 1 ] && [[ "$stderr" == *"$(printf '\n./crc.run: ./crc.run: invalid compressed data--crc error')" ]]
    run --separate-stderr ./cut.run
    [ "$status" -eq 1 ] && [[ "$stderr" == *"$(printf '\n./cut.run: ./cut.run: unexpected end of file')" ]]
    run --separate-stderr ./magic.run
    [ "$status" -eq 1 ]
    [ "$stderr" = "$(printf './magic.run: can only handle GZIP compression method\n./magic.run: unknown compression method')" ]
    [ ! -e ran ]
    run --separate-stderr "$SXPAK" -u -x one.txt
    [ "$status" -eq 1 ] && [ "$stderr" = "one.txt: unable to find preamble magic value" ]
}
