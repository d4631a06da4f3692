#!/usr/bin/env bash
# Checks installation and the Debian package on this machine.
#
#   .ci/package-check.sh BUILD_DIR
#
# BUILD_DIR must be configured and built. Installs into temporary trees with
# cmake --install, builds the package with cpack, installs it with dpkg,
# checks sxpak and its manual page from the system paths, and removes the
# package again. Needs root (dpkg), man-db and dpkg-deb.
set -euo pipefail

say() { printf 'package-check: %s\n' "$*"; }
fail() { printf 'package-check: FAIL: %s\n' "$*" >&2; exit 1; }

[ $# -eq 1 ] || { echo "usage: $0 BUILD_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd) || fail "no build directory $1"
[ -f "$build/CMakeCache.txt" ] || fail "$build is not a configured build directory"
[ -x "$build/sxpak" ] || fail "$build/sxpak is missing: build first"
[ "$(id -u)" -eq 0 ] || fail "dpkg -i needs root"
for tool in cmake cpack dpkg dpkg-deb man; do
    command -v "$tool" > /dev/null || fail "$tool is not installed"
done

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "no project version in $build/CMakeCache.txt"

work=$(mktemp -d)
installed_by_us=0
cleanup() {
    if [ "$installed_by_us" -eq 1 ]; then
        say "removing the package after a failure"
        dpkg -r sxpak > /dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# sxpak -h exits 1 by design; what matters is the Version line on stderr.
check_version_line() {  # executable, what
    local out status=0
    out=$("$1" -h 2>&1 > /dev/null) || status=$?
    [ "$status" -eq 1 ] || fail "$2 -h exited with $status, not 1"
    printf '%s\n' "$out" | grep -q "^Version: @(#) sxpak $version " ||
        fail "$2 -h printed no 'Version: ... sxpak $version' line; it printed:
$out"
}

# --- cmake --install ---------------------------------------------------------
cmake --install "$build" --prefix "$work/prefix" > "$work/install-prefix.log" ||
    fail "cmake --install --prefix failed: $(cat "$work/install-prefix.log")"
DESTDIR="$work/dest" cmake --install "$build" --prefix /usr > "$work/install-dest.log" ||
    fail "cmake --install with DESTDIR failed: $(cat "$work/install-dest.log")"
for root in "$work/prefix" "$work/dest/usr"; do
    [ -x "$root/bin/sxpak" ] || fail "cmake --install put no executable at $root/bin/sxpak"
    [ -f "$root/share/man/man1/sxpak.1" ] || fail "cmake --install put no manual page at $root/share/man/man1/sxpak.1"
    check_version_line "$root/bin/sxpak" "$root/bin/sxpak"
done
say "cmake --install: executable and manual page in place (--prefix and DESTDIR)"

# --- cpack -------------------------------------------------------------------
rm -f "$build"/sxpak_*.deb
(cd "$build" && cpack -G DEB) > "$work/cpack.log" 2>&1 || fail "cpack -G DEB failed: $(cat "$work/cpack.log")"
debs=("$build"/sxpak_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then fail "cpack made no single sxpak_*.deb in $build"; fi
deb=${debs[0]}
say "built $(basename "$deb")"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = sxpak ] || fail "package name is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "package version is '$(field Version)', project says $version"
[ "$(field Section)" = utils ] || fail "section is '$(field Section)'"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture is '$(field Architecture)'"
[ "$(field Depends)" = libc6 ] || fail "Depends is '$(field Depends)', expected libc6 only"
[ -n "$(field Maintainer)" ] || fail "no Maintainer"
dpkg-deb -c "$deb" > "$work/contents"
grep -q ' \./usr/bin/sxpak$' "$work/contents" || fail "the package has no ./usr/bin/sxpak"
grep -Eq ' \./usr/share/man/man1/sxpak\.1(\.gz)?$' "$work/contents" ||
    fail "the package has no manual page under ./usr/share/man/man1"
page=$(sed -nE 's|.* \.(/usr/share/man/man1/sxpak\.1(\.gz)?)$|\1|p' "$work/contents")

# --- dpkg -i -----------------------------------------------------------------
if dpkg-query -W -f='${Status}' sxpak 2> /dev/null | grep -q 'ok installed'; then
    say "sxpak is already installed (left from an earlier run?); removing it first"
    dpkg -r sxpak > /dev/null || fail "could not remove the sxpak package already installed"
fi
[ ! -e /usr/bin/sxpak ] || fail "/usr/bin/sxpak exists but belongs to no sxpak package; not overwriting it"

# Debian images often keep manual pages out of dpkg installs (path-exclude in
# /etc/dpkg/dpkg.cfg.d). dpkg applies the rules in order, the last match wins.
excluded_by=""
for cfg in /etc/dpkg/dpkg.cfg /etc/dpkg/dpkg.cfg.d/*; do
    [ -f "$cfg" ] || continue
    while read -r key pattern _; do
        case $key in
            path-exclude | path-exclude=*) ;;
            path-include | path-include=*) ;;
            *) continue ;;
        esac
        if [ -z "$pattern" ]; then pattern=${key#*=}; key=${key%%=*}; fi
        # shellcheck disable=SC2254
        case $page in
            $pattern)
                if [ "$key" = path-exclude ]; then excluded_by="$cfg: $key $pattern"; else excluded_by=""; fi
                ;;
        esac
    done < "$cfg"
done

dpkg_options=()
if [ -n "$excluded_by" ]; then
    say "dpkg on this machine excludes $page ($excluded_by)"
    say "the package carries the page (dpkg-deb -c); installing with --path-include so it can be checked"
    dpkg_options+=("--path-include=$page")
fi
installed_by_us=1
dpkg "${dpkg_options[@]}" -i "$deb" > "$work/dpkg-i.log" 2>&1 || fail "dpkg -i failed: $(cat "$work/dpkg-i.log")"
say "dpkg -i: installed"

hash -r
found=$(command -v sxpak) || fail "sxpak is not found through PATH ($PATH) after dpkg -i"
[ "$found" = /usr/bin/sxpak ] || fail "sxpak from PATH is $found, which shadows the installed /usr/bin/sxpak"
check_version_line sxpak "sxpak (from PATH)"
say "sxpak -h from PATH prints the Version line (and exits 1, as designed)"

[ -f "$page" ] || fail "dpkg -i did not install $page"
where=$(man -w sxpak 2> "$work/man.err") || fail "man -w sxpak found nothing: $(cat "$work/man.err")"
[ "$where" = "$page" ] || fail "man -w sxpak gives $where, not $page"
say "man -w sxpak: $where"

# --- dpkg -r -----------------------------------------------------------------
dpkg -L sxpak | while read -r file; do [ -d "$file" ] || printf '%s\n' "$file"; done > "$work/files"
dpkg -r sxpak > "$work/dpkg-r.log" 2>&1 || fail "dpkg -r failed: $(cat "$work/dpkg-r.log")"
installed_by_us=0
if dpkg-query -W -f='${Status}' sxpak 2> /dev/null | grep -q 'ok installed'; then
    fail "dpkg -r left sxpak installed"
fi
while read -r file; do
    [ ! -e "$file" ] || fail "dpkg -r left $file behind"
done < "$work/files"
[ ! -e /usr/bin/sxpak ] || fail "dpkg -r left /usr/bin/sxpak behind"
[ ! -e "$page" ] || fail "dpkg -r left $page behind"
if [ "$(man -w sxpak 2> /dev/null)" = "$page" ]; then fail "man -w still finds $page after dpkg -r"; fi
say "dpkg -r: removed, no files left"
say "all checks passed"
