#!/usr/bin/env bash
# Builds the media fuzzer with clang and runs it for a set time over a corpus
# seeded with small valid files of every type the program reads. Crashes are
# written to fuzz/crashes/; add each to fuzz/regressions/ once fixed.
#   scripts/fuzz.sh [seconds] [jobs]     (default 600 s, 1 job)
set -euo pipefail
seconds=${1:-600}
jobs=${2:-1}
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-fuzz"
corpus="$root/build-fuzz/corpus"

need=()
for p in clang libclang-rt-14-dev ffmpeg; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -q && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${need[@]}"
fi

CXX=clang++ cmake -S "$root/fuzz" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target media_fuzzer

# Seeds: a fraction of a second of every format, small enough to mutate fast.
mkdir -p "$corpus" "$root/fuzz/crashes"
seed() { # name ffmpeg-output-args...
    local name=$1; shift
    [ -s "$corpus/$name" ] || ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=0.3:sample_rate=22050" -ac 2 "$@" "$corpus/$name"
}
seed a.wav
seed a.mp3 -b:a 32k
seed a.ogg -c:a libvorbis
seed a.opus -c:a libopus
seed a.flac
seed a.m4a -c:a aac -b:a 32k
seed a.aac -c:a aac -b:a 32k
seed a.ac3 -b:a 64k
seed a.mp2 -c:a mp2 -b:a 64k
seed a.aiff
seed a.au
seed a.wma -c:a wmav2 -b:a 32k
seed a.mka -c:a libvorbis
seed a.mpg -f mpeg -c:a mp2 -b:a 64k
[ -d "$root/fuzz/regressions" ] && cp -n "$root/fuzz/regressions/"* "$corpus/" 2>/dev/null || true

parallel=()
[ "$jobs" -gt 1 ] && parallel=(-jobs="$jobs" -workers="$jobs")
cd "$build"
"$build/media_fuzzer" "$corpus" -max_total_time="$seconds" "${parallel[@]}" \
    -max_len=65536 -timeout=30 -rss_limit_mb=2048 -artifact_prefix="$root/fuzz/crashes/" -print_final_stats=1
