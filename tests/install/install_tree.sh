#!/usr/bin/env bash
# Installs the build into a fresh prefix, checks that every file lies where a
# Linux desktop looks for it, and runs the installed programs from there.
#   install_tree.sh BUILD_DIR SOURCE_DIR APP_ID ICON_SIZES(comma-separated)
set -euo pipefail

build=$1
source=$2
id=$3
IFS=, read -r -a sizes <<<"$4"

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

failed=0
fail() {
    echo "FAIL: $*" >&2
    failed=1
}
expect() {
    [ -f "$prefix/$1" ] || fail "not installed: $1"
}

expect bin/sonaweld
expect bin/sonaweld-join
expect "share/applications/$id.desktop"
expect "share/metainfo/$id.metainfo.xml"
expect "share/icons/hicolor/scalable/apps/$id.svg"
for size in "${sizes[@]}"; do
    expect "share/icons/hicolor/${size}x${size}/apps/$id.png"
done
expect share/doc/sonaweld/copyright
expect share/doc/sonaweld/changelog.gz
# Only the Debian package speaks to lintian.
[ ! -e "$prefix/share/lintian" ] || fail "a plain install holds lintian overrides"

# Help looks for its pages in ../share/sonaweld/help from the program.
diff -r "$source/res/help" "$prefix/share/sonaweld/help" >&2 || fail "help pages differ from res/help"
[ ! -e "$prefix/bin/help" ] || fail "help pages beside the installed program"

for page in sonaweld.1 sonaweld-join.1; do
    expect "share/man/man1/$page.gz"
    gzip -dc "$prefix/share/man/man1/$page.gz" | cmp -s - "$source/res/linux/$page" \
        || fail "share/man/man1/$page.gz is not res/linux/$page"
done

# The installed programs run from the prefix on the system's libraries.
usage=$("$prefix/bin/sonaweld-join" --help) || fail "sonaweld-join --help failed"
case "$usage" in
"usage: sonaweld-join "*) ;;
*) fail "sonaweld-join --help printed: $usage" ;;
esac
# One version everywhere: both programs and the AppStream data name the
# project's, and without a display for the window's program.
version=$(sed -n 's/^project(Sonaweld VERSION \([0-9.]*\) .*/\1/p' "$source/CMakeLists.txt")
[ -n "$version" ] || fail "no version in CMakeLists.txt"
for program in sonaweld sonaweld-join; do
    said=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$prefix/bin/$program" --version) \
        || fail "$program --version failed"
    [ "$said" = "$program $version" ] || fail "$program --version printed: $said"
done
grep -q "<release version=\"$version\"" "$prefix/share/metainfo/$id.metainfo.xml" \
    || fail "the installed AppStream data does not name release $version"
home=$(mktemp -d -p "$prefix")
status=0
HOME=$home XDG_CONFIG_HOME=$home/.config QT_QPA_PLATFORM=offscreen \
    timeout 3 "$prefix/bin/sonaweld" >/dev/null 2>&1 || status=$?
# 124: still running when the time was up, as a window waiting for its user.
[ "$status" -eq 124 ] || fail "the installed sonaweld ended by itself with status $status"

[ "$failed" -eq 0 ] && echo "install tree complete under $prefix"
exit "$failed"
