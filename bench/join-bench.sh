#!/usr/bin/env bash
# Joins a generated corpus (32 files, about 89 minutes: 192 kbit/s MP3s, Vorbis,
# AAC, 96 kHz FLAC, AC-3 5.1, mono WAV and two videos) to 44100 Hz stereo
# 16-bit with sonaweld-join, with ffmpeg's concat filter and, on the MP3 subset,
# with sox, and brought to one loudness by sonaweld-join --album-loudness and
# by ffmpeg's two-pass loudnorm over the concatenated corpus. Then the
# long-files case: one 40-minute MP3 against `ffmpeg -i long.mp3 out.wav`,
# with one worker and with the default (one per core, long files decoded in
# pieces), and two 40-minute files plus three short ones against the concat
# filter. Encoded output: the whole corpus
# joined to FLAC, MP3 and M4A (AAC) against the concat filter feeding the
# same encoder at the same settings. Runs alternate; prints median wall
# times, their ratios and peak memory.   bench/join-bench.sh [runs]
set -euo pipefail

runs=${1:-3}
. "$(dirname "$0")/corpus.sh"
join=${SONAWELD_JOIN:-$root/build/tools/sonaweld-join}
[ -x "$join" ] || bash "$root/scripts/sonaweld.sh" build

mapfile -t all < <(ls "$corpus"/* | sort)
mapfile -t mp3s < <(ls "$corpus"/*.mp3 | sort)
echo "Corpus: ${#all[@]} files, $(du -sh "$corpus" | cut -f1)"

concat_filter() { # n [sample_fmts=s16:]
    local n=$1 fmt=${2-sample_fmts=s16:} f="" i
    for ((i = 0; i < n; i++)); do
        f+="[$i:a:0]aresample=44100,aformat=${fmt}channel_layouts=stereo[a$i];"
    done
    for ((i = 0; i < n; i++)); do f+="[a$i]"; done
    echo "${f}concat=n=$n:v=0:a=1[out]"
}
ffmpeg_inputs=()
for f in "${all[@]}"; do ffmpeg_inputs+=(-i "$f"); done
filter=$(concat_filter ${#all[@]})
# A lossy encoder takes the mix in its own sample format, as ours does: the
# 16 bits are a WAV and FLAC choice.
lossy_filter=$(concat_filter ${#all[@]} "")

# ffmpeg's encoder and settings for the format sonaweld-join writes by each
# extension.
ffmpeg_encoder() { # extension
    case $1 in
    flac) echo "-c:a flac" ;;
    mp3) echo "-c:a libmp3lame -q:a 2" ;;
    m4a) echo "-c:a aac -b:a 192k" ;;
    esac
}
# The encoded rows need a sonaweld-join that writes the codec the extension
# names: a WAV under another name would pass for a fast encoder. A format it
# does not write yet is told and left out.
encoded=()
for want in flac:flac mp3:mp3 m4a:aac; do
    ext=${want%%:*} codec=${want#*:}
    rm -f "$work/check.$ext"
    if "$join" -q -y -o "$work/check.$ext" "$corpus/song01.mp3" >/dev/null 2>&1 &&
        [ "$(ffprobe -v error -select_streams a:0 -show_entries stream=codec_name -of csv=p=0 \
            "$work/check.$ext" 2>/dev/null)" = "$codec" ]; then
        encoded+=("$ext")
    else
        echo "sonaweld-join does not write $codec to .$ext here: the $ext rows are left out"
    fi
    rm -f "$work/check.$ext"
done

# The album rows need a sonaweld-join that takes --album-loudness.
album=yes
rm -f "$work/check.wav"
if ! "$join" -q -y --album-loudness -16 -o "$work/check.wav" "$corpus/song01.mp3" >/dev/null 2>&1; then
    album=""
    echo "sonaweld-join does not take --album-loudness here: the album rows are left out"
fi
rm -f "$work/check.wav" "$work/check.cue"

measure() { # label command...
    local label=$1; shift
    rm -f "$work"/out.*
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
    if [ -n "$album" ]; then
        measure album-sonaweld "$join" -q -y --album-loudness -16 -o "$work/out.wav" "${all[@]}"
        measure album-loudnorm bash "$root/bench/loudnorm-two-pass.sh" -16 "$work/out.wav" "${all[@]}"
    fi
    measure sonaweld-mp3 "$join" -q -y -o "$work/out.wav" "${mp3s[@]}"
    measure sox sox "${mp3s[@]}" -r 44100 -c 2 -b 16 "$work/out.wav"
    measure long-sonaweld "$join" -q -y -o "$work/out.wav" "$long/long1.mp3"
    measure long-sonaweld-j1 "$join" -q -y -j 1 -o "$work/out.wav" "$long/long1.mp3"
    measure long-ffmpeg ffmpeg -v error -y -i "$long/long1.mp3" -c:a pcm_s16le "$work/out.wav"
    measure list-sonaweld "$join" -q -y -o "$work/out.wav" "${longlist[@]}"
    measure list-ffmpeg ffmpeg -v error -y -i "${longlist[0]}" -i "${longlist[1]}" -i "${longlist[2]}" \
        -i "${longlist[3]}" -i "${longlist[4]}" -filter_complex "$(concat_filter 5)" -map "[out]" \
        -c:a pcm_s16le "$work/out.wav"
    for ext in "${encoded[@]}"; do
        [ "$ext" = flac ] && enc_filter=$filter || enc_filter=$lossy_filter
        measure ".$ext-sonaweld" "$join" -q -y -o "$work/out.$ext" "${all[@]}"
        # shellcheck disable=SC2046 # the encoder's arguments are words
        measure ".$ext-ffmpeg" ffmpeg -v error -y "${ffmpeg_inputs[@]}" -filter_complex "$enc_filter" -map "[out]" \
            $(ffmpeg_encoder "$ext") "$work/out.$ext"
    done
done

median() { # label field
    awk -v l="$1" -v f="$2" '$1 == l { print $f }' "$work/results.txt" | sort -g |
        awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
echo
printf '%-14s %10s %14s\n' tool "median s" "peak MB"
labels=(sonaweld ffmpeg sonaweld-mp3 sox long-sonaweld long-sonaweld-j1 long-ffmpeg list-sonaweld list-ffmpeg)
if [ -n "$album" ]; then labels+=(album-sonaweld album-loudnorm); fi
for ext in "${encoded[@]}"; do labels+=(".$ext-sonaweld" ".$ext-ffmpeg"); done
for l in "${labels[@]}"; do
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
if [ -n "$album" ]; then
    printf 'album loudness / loudnorm x2:   %.3f  (both to -16 LUFS, one gain for the corpus)\n' \
        "$(ratio album-sonaweld album-loudnorm)"
    printf 'album loudness / plain join:    %.2f  (the cost of the analysis pass)\n' "$(ratio album-sonaweld sonaweld)"
fi
for ext in "${encoded[@]}"; do
    case $ext in flac) target=0.6 ;; *) target=0.8 ;; esac
    printf '%-4s out / ffmpeg (all files): %.3f  (target <= %s); peak %.1f MB (target <= 150)\n' "$ext" \
        "$(ratio ".$ext-sonaweld" ".$ext-ffmpeg")" "$target" "$(echo "$(median ".$ext-sonaweld" 3) / 1024" | bc -l)"
done
