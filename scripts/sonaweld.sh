#!/usr/bin/env bash
# Sets up a Debian 12 machine for Sonaweld, builds it, and then either starts
# the application (run) or runs every test headless (test).
#   scripts/sonaweld.sh run | test | build
set -euo pipefail

mode=${1:-run}
root=$(cd "$(dirname "$0")/.." && pwd)
# SONAWELD_BUILD names another build folder, for a second tree beside build/.
build=${SONAWELD_BUILD:-$root/build}

packages=(
    cmake g++ pkg-config make
    qt6-base-dev qt6-multimedia-dev qt6-svg-dev libgl-dev
    libavformat-dev libavcodec-dev libavutil-dev libswresample-dev libebur128-dev
    libgtest-dev fonts-dejavu-core
)
# The tests make their media with the encoders of the ffmpeg tool, check the
# desktop files with the desktop's own validators and the MIME database, cut
# a joined file apart again by its cue sheet with shntool, and build and check
# the Debian package (CPack needs the file tool for that).
if [ "$mode" = test ]; then
    packages+=(ffmpeg desktop-file-utils appstream shared-mime-info dpkg-dev file shntool)
fi

. "$root/scripts/debian-packages.sh"
install_missing "${packages[@]}"

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

case "$mode" in
run)
    cmake --build "$build" --parallel "$(nproc)" --target sonaweld
    exec "$build/src/sonaweld"
    ;;
test)
    cmake --build "$build" --parallel "$(nproc)"
    (cd "$build" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --parallel "$(nproc)")
    # The package from the same build, checked as the README's packaging
    # command checks it, less lintian and the many packages it brings.
    bash "$root/scripts/package.sh" --no-lintian
    # The same suite built with AddressSanitizer and UndefinedBehaviorSanitizer:
    # a memory error, undefined behaviour or a leak fails the test it shows in.
    sanitize="$root/build-sanitize"
    cmake -S "$root" -B "$sanitize" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSONAWELD_SANITIZE=ON >/dev/null
    cmake --build "$sanitize" --parallel "$(nproc)"
    cd "$sanitize"
    QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --output-on-failure --parallel "$(nproc)"
    ;;
build)
    cmake --build "$build" --parallel "$(nproc)"
    ;;
*)
    echo "usage: $0 run|test|build" >&2
    exit 2
    ;;
esac
