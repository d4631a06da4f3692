#!/usr/bin/env bash
# Builds sxpak and runs every test: the suite on the Release build, the same
# suite under AddressSanitizer and UndefinedBehaviorSanitizer, a bounded run of
# each fuzz target, and the installation and package check.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
jobs=$(nproc)

echo "== Release build and tests"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs"
(cd build && ctest --output-on-failure -j"$jobs")

echo "== Tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSXPAK_SANITIZE=ON -DSXPAK_BENCH=OFF
cmake --build build-asan -j"$jobs"
(cd build-asan && ctest --output-on-failure -j"$jobs")

echo "== Fuzzing"
fuzz/run.sh "${SXPAK_FUZZ_SECONDS:-60}"

echo "== Installation and package"
if [ "$(id -u)" -eq 0 ]; then
    .ci/package-check.sh build
else
    echo "skipped: installing the Debian package needs root"
fi
echo "== The installed executable on a large archive"
scripts/installed-check.sh build

echo "== All tests passed"
