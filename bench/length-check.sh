#!/usr/bin/env bash
# Measures files of many containers with `sonaweld-join --probe` and compares
# each length with the number of samples FFmpeg's own decoder yields from the
# same file. Prints one row per file: measured minus decoded, in samples.
#   bench/length-check.sh [seconds]   (default 95)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
join="$root/build/tools/sonaweld-join"
secs=${1:-95}
out="$root/bench/out/lengths"
mkdir -p "$out"
cd "$out"

tone() { # name rate channels [encoder args...]
    local name=$1 rate=$2 ch=$3
    shift 3
    ffmpeg -v error -y -f lavfi -i "sine=frequency=440:duration=$secs:sample_rate=$rate" -ac "$ch" "$@" "$name"
}
cut60() { # name: keep the first 60 % of the bytes, as an interrupted copy does
    local size
    size=$(stat -c %s "$1")
    head -c $((size * 60 / 100)) "$1" >"cut-$1"
}

tone ac3.mkv 44100 2 -c:a ac3
tone dts.mkv 48000 2 -c:a dca -strict -2
tone mp3.mkv 44100 2 -c:a libmp3lame
tone flac.mkv 44100 2 -c:a flac
tone pcm.mkv 44100 2 -c:a pcm_s16le
tone wma.wma 44100 2 -c:a wmav2
ffmpeg -v error -y -f lavfi -i "testsrc=size=160x120:rate=25:duration=$secs" \
    -f lavfi -i "sine=frequency=440:duration=$secs:sample_rate=44100" -c:v wmv2 -c:a wmav2 wmv.wmv
tone a.ogg 44100 2 -c:a libvorbis -t 5
tone b.ogg 44100 2 -c:a libvorbis -t 2
cat a.ogg b.ogg >chained.ogg
tone flac.flac 44100 2
tone aiff.aiff 44100 2
tone au.au 44100 2
cut60 flac.flac
cut60 aiff.aiff
cut60 au.au
tone lame.mp3 44100 2 -b:a 192k
tone nolame.mp3 44100 2 -b:a 192k -write_xing 0
# Tagged MP3s put end to end, as `cat` leaves them: the second's ID3v2 tag
# and Info frame, and the third's tag, sit in the middle of the stream.
cat lame.mp3 lame.mp3 nolame.mp3 >catted.mp3
tone aac.m4a 44100 2 -c:a aac
tone adts.aac 44100 2 -c:a aac
tone opus.opus 48000 2 -c:a libopus
tone vorbis.ogg 44100 2 -c:a libvorbis
tone vorbis.mkv 44100 2 -c:a libvorbis
tone ac3.ac3 44100 2
tone wav.wav 44100 2
ffmpeg -v error -y -f lavfi -i "sine=frequency=440:sample_rate=44100" -af atrim=end_sample=44103 -ac 2 odd.wav

printf '%-14s %12s %12s %10s\n' file measured decoded difference
for f in ac3.mkv dts.mkv mp3.mkv flac.mkv pcm.mkv wma.wma wmv.wmv chained.ogg cut-flac.flac \
    cut-aiff.aiff cut-au.au lame.mp3 nolame.mp3 catted.mp3 aac.m4a adts.aac opus.opus vorbis.ogg vorbis.mkv \
    ac3.ac3 wav.wav odd.wav; do
    rate=$(ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate -of csv=p=0 "$f")
    units=$("$join" --probe "$f" | cut -f1)
    measured=$((units * rate / 10000000))
    decoded=$(($(ffmpeg -v error -i "$f" -vn -f s16le -ac 1 - | wc -c) / 2))
    printf '%-14s %12d %12d %+10d\n' "$f" "$measured" "$decoded" $((measured - decoded))
done
