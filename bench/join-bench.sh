#!/usr/bin/env bash
# Joins a generated corpus (32 files, about 89 minutes: 192 kbit/s MP3s, Vorbis,
# AAC, 96 kHz FLAC, AC-3 5.1, mono WAV and two videos) to 44100 Hz stereo
# 16-bit with sonaweld-join, with ffmpeg's concat filter and, on the MP3 subset,
# with sox. Then the long-files case: one 40-minute MP3 against
# `ffmpeg -i long.mp3 out.wav`, with one worker and with the default (one per
# core, long files decoded in pieces), and two 40-minute files plus three
# short ones against the concat filter. Runs alternate; prints median wall
# times, their ratios and peak memory.   bench/join-bench.sh [runs]
set -euo pipefail

runs=${1:-3}
. "$(dirname "$0")/corpus.sh"
join=${SONAWELD_JOIN:-$root/build/tools/sonaweld-join}
[ -x "$join" ] || bash "$root/scripts/sonaweld.sh" build

mapfile -t all < <(ls "$corpus"/* | sort)
mapfile -t mp3s < <(ls "$corpus"/*.mp3 | sort)
echo "Corpus: ${#all[@]} files, $(du -sh "$corpus" | cut -f1)"

concat_filter() { # n
    local n=$1 f="" i
    for ((i = 0; i < n; i++)); do
        f+="[$i:a:0]aresample=44100,aformat=sample_fmts=s16:channel_layouts=stereo[a$i];"
    done
    for ((i = 0; i < n; i++)); do f+="[a$i]"; done
    echo "${f}concat=n=$n:v=0:a=1[out]"
}
ffmpeg_inputs=()
for f in "${all[@]}"; do ffmpeg_inputs+=(-i "$f"); done
filter=$(concat_filter ${#all[@]})

measure() { # label command...
    local label=$1; shift
    rm -f "$work/out.wav"
    /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt" || {
        echo "$label failed:"; cat "$work/err.txt"; exit 1; }
    echo "$label $(cat "$work/time.txt")" >> "$work/results.txt"
}

: > "$work/results.txt"
for ((r = 1; r <= runs; r++)); do
    echo "Run $r of $runs"
    measure sonaweld "$join" -q -y -o "$work/out.wav" "${all[@]}"
    measure ffmpeg ffmpeg -v error -y "${ffmpeg_inputs[@]}" -filter_complex "$filter" -map "[out]" \
        -c:a pcm_s16le "$work/out.wav"
    measure sonaweld-mp3 "$join" -q -y -o "$work/out.wav" "${mp3s[@]}"
    measure sox sox "${mp3s[@]}" -r 44100 -c 2 -b 16 "$work/out.wav"
    measure long-sonaweld "$join" -q -y -o "$work/out.wav" "$long/long1.mp3"
    measure long-sonaweld-j1 "$join" -q -y -j 1 -o "$work/out.wav" "$long/long1.mp3"
    measure long-ffmpeg ffmpeg -v error -y -i "$long/long1.mp3" -c:a pcm_s16le "$work/out.wav"
    measure list-sonaweld "$join" -q -y -o "$work/out.wav" "${longlist[@]}"
    measure list-ffmpeg ffmpeg -v error -y -i "${longlist[0]}" -i "${longlist[1]}" -i "${longlist[2]}" \
        -i "${longlist[3]}" -i "${longlist[4]}" -filter_complex "$(concat_filter 5)" -map "[out]" \
        -c:a pcm_s16le "$work/out.wav"
done

median() { # label field
    awk -v l="$1" -v f="$2" '$1 == l { print $f }' "$work/results.txt" | sort -g |
        awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
echo
printf '%-14s %10s %14s\n' tool "median s" "peak MB"
for l in sonaweld ffmpeg sonaweld-mp3 sox long-sonaweld long-sonaweld-j1 long-ffmpeg list-sonaweld list-ffmpeg; do
    printf '%-14s %10.2f %14.1f\n' "$l" "$(median "$l" 2)" "$(echo "$(median "$l" 3) / 1024" | bc -l)"
done
echo
printf 'sonaweld / ffmpeg (all files): %.3f  (target <= 0.55)\n' \
    "$(echo "$(median sonaweld 2) / $(median ffmpeg 2)" | bc -l)"
printf 'sonaweld / sox (MP3 subset):   %.3f\n' "$(echo "$(median sonaweld-mp3 2) / $(median sox 2)" | bc -l)"
printf 'sonaweld peak memory:          %.1f MB (target <= 120)\n' "$(echo "$(median sonaweld 3) / 1024" | bc -l)"
ratio() { echo "$(median "$1" 2) / $(median "$2" 2)" | bc -l; }
printf 'one 40-min MP3 / ffmpeg -i:     %.3f  (target <= 0.5)\n' "$(ratio long-sonaweld long-ffmpeg)"
printf 'one worker / default, same MP3: %.2f  (the speed-up of cutting it into pieces)\n' \
    "$(ratio long-sonaweld-j1 long-sonaweld)"
printf 'two long + three short / concat: %.3f\n' "$(ratio list-sonaweld list-ffmpeg)"
printf 'peak memory, long file / list:  %.1f / %.1f MB\n' "$(echo "$(median long-sonaweld 3) / 1024" | bc -l)" \
    "$(echo "$(median list-sonaweld 3) / 1024" | bc -l)"
