#!/usr/bin/env bash
# Checks a Sonaweld Debian package as a user would meet it:
#   bash scripts/check-package.sh PACKAGE.deb [--no-lintian]
# its control data and dependencies against the libraries its programs load,
# its file list, then, unpacked into an empty root, the programs running on
# this system's libraries, and the desktop files through their validators;
# last lintian (unless --no-lintian), failing on errors and warnings.
set -euo pipefail

deb=$(realpath "$1")
lintian=1
[ "${2:-}" != --no-lintian ] || lintian=0

failed=0
fail() {
    echo "FAIL: $*" >&2
    failed=1
}
say() {
    echo "== $*"
}

id=com.quillory.Sonaweld
field() {
    dpkg-deb --field "$deb" "$1"
}

say "control"
[ "$(field Package)" = sonaweld ] || fail "package name is $(field Package)"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture $(field Architecture)"
depends=$(field Depends)
echo "Depends: $depends"
# The names alone, one a line.
depends_names=$(tr ',|' '\n\n' <<<"$depends" | sed -e 's/(.*)//' -e 's/[[:space:]]//g' -e '/^$/d')
for p in libqt6core6 libqt6gui6 libqt6widgets6 libqt6svg6 libqt6multimedia6 \
    libavformat59 libavcodec59 libavutil57 libswresample4 libebur128-1; do
    grep -qx "$p" <<<"$depends_names" || fail "Depends lacks $p"
done

# Every dependency is satisfied here, at the version asked for, so the
# programs run below on exactly what an installation would have.
while IFS= read -r dep; do
    dep=$(sed -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//' <<<"$dep")
    name=${dep%% *}
    installed=$(dpkg-query -W -f='${Status} ${Version}' "$name" 2>/dev/null || true)
    case "$installed" in
    "install ok installed "*) version=${installed##* } ;;
    *)
        fail "dependency $name is not installed here"
        continue
        ;;
    esac
    if [[ "$dep" =~ \(([<>=]+)\ *([^\)]+)\) ]]; then
        op=${BASH_REMATCH[1]}
        want=${BASH_REMATCH[2]}
        case "$op" in
        ">=") rel=ge ;; "<=") rel=le ;; ">>") rel=gt ;; "<<") rel=lt ;; "=") rel=eq ;; *) rel=ge ;;
        esac
        dpkg --compare-versions "$version" "$rel" "$want" || fail "$name $version is not $op $want"
    fi
done < <(tr ',' '\n' <<<"$depends")

say "contents"
contents=$(dpkg-deb --contents "$deb" | awk '{print $NF}' | sed 's|^\./||')
expected=(
    usr/bin/sonaweld
    usr/bin/sonaweld-join
    "usr/share/applications/$id.desktop"
    "usr/share/metainfo/$id.metainfo.xml"
    "usr/share/icons/hicolor/scalable/apps/$id.svg"
    usr/share/man/man1/sonaweld.1.gz
    usr/share/man/man1/sonaweld-join.1.gz
    usr/share/sonaweld/help/Introduction.htm
    usr/share/doc/sonaweld/copyright
    usr/share/doc/sonaweld/changelog.gz
    usr/share/lintian/overrides/sonaweld
)
for size in 16 22 24 32 48 64 128 256 512; do
    expected+=("usr/share/icons/hicolor/${size}x${size}/apps/$id.png")
done
for path in "${expected[@]}"; do
    grep -qx "$path" <<<"$contents" || fail "the package lacks $path"
done
grep -v '^usr/' <<<"$contents" | grep -v '^$' && fail "files outside /usr"
# Debian's modes, whatever the umask of whoever packed it: lintian warns of
# a folder others may write to.
loose=$(dpkg-deb --contents "$deb" | awk '$1 !~ /^(drwxr-xr-x|-rw-r--r--|-rwxr-xr-x)$/ {print $1, $NF}')
[ -z "$loose" ] || fail "modes other than 755 and 644:"$'\n'"$loose"
echo "$(grep -vc '/$' <<<"$contents") files, $(stat -c %s "$deb") bytes"

say "unpacked into an empty root"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

# Each library the programs load directly comes from a package they depend
# on; an independent check of what dpkg-shlibdeps wrote.
for program in sonaweld sonaweld-join; do
    binary="$root/usr/bin/$program"
    if ldd "$binary" | grep -q 'not found'; then
        fail "$program needs a library this system lacks:"
        ldd "$binary" | grep 'not found' >&2
    fi
    owners=()
    for lib in $(readelf -d "$binary" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p'); do
        file=$(ldd "$binary" | awk -v lib="$lib" '$1 == lib {print $3}')
        [ -n "$file" ] || continue
        owner=$(dpkg-query -S "$(realpath "$file")" 2>/dev/null | head -1 | cut -d: -f1) \
            || owner=$(dpkg-query -S "$file" 2>/dev/null | head -1 | cut -d: -f1) || true
        if [ -z "$owner" ]; then
            fail "$program loads $file, which no package owns"
        elif ! grep -qx "$owner" <<<"$depends_names"; then
            fail "$program loads $lib from $owner, which Depends does not name"
        fi
        owners+=("$owner")
    done
    echo "$program loads libraries of: $(printf '%s\n' "${owners[@]}" | sort -u | tr '\n' ' ')"
done

usage=$("$root/usr/bin/sonaweld-join" --help) || fail "sonaweld-join --help failed"
echo "$usage" | head -2
[[ "$usage" == "usage: sonaweld-join "* ]] || fail "unexpected --help text"

# A real join with the packaged joiner: half a second of 8 kHz mono silence.
work=$(mktemp -d -p "$root")
{
    printf 'RIFF\x64\x1f\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00\x40\x1f\x00\x00\x80\x3e\x00\x00\x02\x00\x10\x00'
    printf 'data\x40\x1f\x00\x00'
    head -c 8000 /dev/zero
} >"$work/half.wav"
probe=$("$root/usr/bin/sonaweld-join" --probe "$work/half.wav") || fail "--probe failed"
[ "${probe%%$'\t'*}" = 5000000 ] || fail "--probe measured: $probe"
"$root/usr/bin/sonaweld-join" -q --no-chapters -r 8000 -c 1 -o "$work/out.wav" "$work/half.wav" "$work/half.wav" \
    || fail "the packaged sonaweld-join could not join"
# 44 bytes of header and two halves of a second of 16-bit samples; without
# chapters no markers follow them.
[ "$(stat -c %s "$work/out.wav" 2>/dev/null || echo 0)" = 16044 ] || fail "the joined file has the wrong size"

status=0
HOME=$work XDG_CONFIG_HOME=$work/.config QT_QPA_PLATFORM=offscreen \
    timeout 3 "$root/usr/bin/sonaweld" >/dev/null 2>&1 || status=$?
[ "$status" -eq 124 ] || fail "the packaged sonaweld ended by itself with status $status"

say "desktop files"
desktop-file-validate "$root/usr/share/applications/$id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net --strict "$root/usr/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"

if [ "$lintian" -eq 1 ]; then
    say "lintian"
    # Information tags are shown, not failed on. Its remark that it would
    # rather not run as root is left out.
    lint=$(lintian --display-info --fail-on error,warning "$deb" 2>&1) || fail "lintian"
    grep -v 'running with root privileges' <<<"$lint" || true
fi

if [ "$failed" -ne 0 ]; then
    echo "$deb: the checks above failed" >&2
    exit 1
fi
echo "$deb: all checks passed"
