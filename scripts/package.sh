#!/usr/bin/env bash
# Builds the Debian package of Sonaweld from this tree and checks it:
#   bash scripts/package.sh [--no-lintian]
# Installs what is missing, builds into build/ as the set-up commands do,
# makes build/sonaweld_<version>_<arch>.deb with CPack and hands it to
# scripts/check-package.sh. --no-lintian skips lintian, which brings some
# hundred packages of its own.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# SONAWELD_BUILD names another build folder, for a second tree beside build/.
build=${SONAWELD_BUILD:-$root/build}
lintian=1
case "${1:-}" in
"") ;;
--no-lintian) lintian=0 ;;
*)
    echo "usage: $0 [--no-lintian]" >&2
    exit 2
    ;;
esac

bash "$root/scripts/sonaweld.sh" build

. "$root/scripts/debian-packages.sh"
# dpkg-shlibdeps reads the package's dependencies off the programs; CPack
# looks for the programs to hand it with the file tool, and stops without it.
tools=(dpkg-dev file desktop-file-utils appstream)
[ "$lintian" -eq 0 ] || tools+=(lintian)
install_missing "${tools[@]}"

rm -f "$build"/sonaweld_*.deb
# Packed under a umask that lets the group write, on purpose: the modes in
# the package must not depend on who packs it.
(cd "$build" && umask 002 && cpack -G DEB >/dev/null)
debs=("$build"/sonaweld_*.deb)
[ -f "${debs[0]}" ] || { echo "cpack made no package" >&2; exit 1; }

check=(bash "$root/scripts/check-package.sh" "${debs[0]}")
[ "$lintian" -eq 1 ] || check+=(--no-lintian)
"${check[@]}"
