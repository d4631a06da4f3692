#!/usr/bin/env bash
# Builds sxpak and shows its main job end to end: a small application packed
# as a tar, turned into a compressed self-extracting installer, listed, and
# run in a scratch directory.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build "$root/build" -j"$(nproc)" > /dev/null
sxpak=$root/build/sxpak

work=$(mktemp -d /tmp/sxpak-demo-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

say() { printf '\n\033[1m%s\033[0m\n' "$*"; }

say "1. A sample application"
mkdir -p src/app/bin src/app/share
printf '#!/bin/sh\necho "hello from the demo app"\n' > src/app/bin/hello
chmod +x src/app/bin/hello
printf 'Demo application, version 1.0.\n' > src/app/share/README
seq 1 20000 > src/app/share/numbers.txt
cat > src/app/install.sh <<'SCRIPT'
#!/bin/sh
# Post-install step: runs after the payload is unpacked, with the archive's
# features in the environment.
echo "post-install: installed into $(pwd)/$FSSUB"
env | grep -E '^(NAME|VFYFS|FSSUB|NOCOMPR)=' | sort > "$FSSUB/install-env.txt"
SCRIPT
tar cf app.tar -C src app
ls -l app.tar

say "2. Build the installer: sxpak -C ... -f 'tar xf -' -r 'sh app/install.sh' -V target -S app app.tar > demo.run"
mkdir target
"$sxpak" -C 'Demo app 1.0' -f 'tar xf -' -r 'sh app/install.sh' -V "$work/target" -S app app.tar > demo.run
chmod +x demo.run
ls -l "$sxpak" demo.run

say "3. List it: sxpak -l demo.run"
"$sxpak" -l demo.run

say "4. Check it without running anything: sxpak -u -x demo.run > /dev/null"
"$sxpak" -u -x demo.run > /dev/null 2>&1 && echo "integrity: ok"

say "5. Run it in target/: ../demo.run"
(cd target && ../demo.run)

say "6. What was unpacked"
(cd target && find . -type f | sort)

say "7. What the run command saw in its environment"
cat target/app/install-env.txt
