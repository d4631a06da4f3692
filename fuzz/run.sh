#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz and runs each one for
# a bounded time (seconds, default 60) on a scratch copy of its seed corpus.
# Exits non-zero when a target finds a crash, a leak, a hang or undefined
# behaviour; the input that caused it is left in build-fuzz/artifacts/.
set -euo pipefail

seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-fuzz

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSXPAK_FUZZ=ON >/dev/null
cmake --build "$build" -j2 >/dev/null

export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1
status=0
for source in "$root"/fuzz/*_fuzz.cpp; do
    target=$(basename "$source" .cpp)
    name=${target%_fuzz}
    corpus=$build/corpus/$name
    artifacts=$build/artifacts/$name
    rm -rf "$corpus"
    mkdir -p "$corpus" "$artifacts"
    if [ -d "$root/fuzz/corpus/$name" ]; then
        cp "$root/fuzz/corpus/$name"/* "$corpus"/
    fi
    echo "== $target: $seconds s"
    # Standard error of the target is closed: fatal decoding errors print a
    # message per input. libFuzzer and the sanitizers still report.
    if ! "$build/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
        -close_fd_mask=2 -print_final_stats=1 -artifact_prefix="$artifacts/" "$corpus"; then
        echo "== $target: finding in $artifacts" >&2
        status=1
    fi
done
exit $status
