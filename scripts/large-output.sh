#!/usr/bin/env bash
# Joins about 6 h 50 min of audio into one 44100 Hz stereo 16-bit file of more
# than 4 GiB and reads it back with three readers that are not ours: FFmpeg,
# sox and libsndfile. Each must see RF64 and the exact frame count. Needs about
# 5 GB of free disk space; not part of CI.   scripts/large-output.sh [folder]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
join="$root/build/tools/sonaweld-join"
work=${1:-"$root/bench/out/large"}

need=()
for p in ffmpeg sox sndfile-programs; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -q && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${need[@]}"
fi
[ -x "$join" ] || bash "$root/scripts/sonaweld.sh" build
mkdir -p "$work"

# Seven 59-minute tones: 4,294,967,295 bytes of RIFF payload are 6 h 45 min.
inputs=()
for i in 1 2 3 4 5 6 7; do
    f="$work/part$i.flac"
    [ -s "$f" ] || ffmpeg -v error -y -f lavfi -i "sine=frequency=$((200 + 50 * i)):sample_rate=44100:duration=3540" -ac 2 "$f"
    inputs+=("$f")
done
out="$work/large.wav"
/usr/bin/time -f "join: %e s, %M KB peak" "$join" -q -y -o "$out" "${inputs[@]}"

expected=$((7 * 3540 * 44100))
bytes=$(stat -c %s "$out")
header=$(head -c 4 "$out")
echo "output: $bytes bytes, header $header, expected $expected frames"
[ "$header" = RF64 ] || { echo "not RF64" >&2; exit 1; }
[ "$bytes" -gt 4294967296 ] || { echo "not over 4 GiB" >&2; exit 1; }

status=0
check() { # reader frames
    if [ "$2" = "$expected" ]; then echo "$1: $2 frames, exact"; else echo "$1: $2 frames, expected $expected" >&2; status=1; fi
}
check ffprobe "$(ffprobe -v error -select_streams a:0 -show_entries stream=duration_ts -of csv=p=0 "$out")"
check sox "$(soxi -s "$out")"
check libsndfile "$(sndfile-info "$out" | awk -F': *' '/^Frames/ {print $2; exit}')"
exit $status
