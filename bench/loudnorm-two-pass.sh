#!/usr/bin/env bash
# ffmpeg's answer to one loudness for a whole join: the files concatenated
# (44100 Hz stereo, as the benchmark's concat rows), measured by loudnorm in
# a first pass and brought to TARGET LUFS (true peak -1 dBTP) by one linear
# gain in a second, written as a 16-bit WAV.
#   bench/loudnorm-two-pass.sh TARGET OUT.wav FILE...
set -euo pipefail

target=$1 out=$2
shift 2
inputs=() graph=""
for ((i = 0; i < $#; i++)); do
    inputs+=(-i "${@:i+1:1}")
    graph+="[$i:a:0]aresample=44100,aformat=channel_layouts=stereo[a$i];"
done
for ((i = 0; i < $#; i++)); do graph+="[a$i]"; done
graph+="concat=n=$#:v=0:a=1"

# The measurement is the JSON block loudnorm prints last on stderr.
measured=$(ffmpeg -nostdin -hide_banner -nostats -y "${inputs[@]}" \
    -filter_complex "$graph,loudnorm=I=$target:TP=-1:LRA=50:print_format=json" -f null - 2>&1 |
    sed -n '/^{/,/^}/p')
value() { sed -n "s/.*\"$1\" *: *\"\\([^\"]*\\)\".*/\\1/p" <<<"$measured"; }
for key in input_i input_tp input_lra input_thresh target_offset; do
    [ -n "$(value $key)" ] || { echo "loudnorm printed no $key" >&2; exit 1; }
done
# LRA=50 keeps the second pass linear (loudnorm turns dynamic when the
# measured range exceeds its target); it leaves at 192 kHz, hence the resample.
ffmpeg -nostdin -v error -y "${inputs[@]}" -filter_complex \
    "$graph,loudnorm=I=$target:TP=-1:LRA=50:measured_I=$(value input_i):measured_TP=$(value input_tp):measured_LRA=$(value input_lra):measured_thresh=$(value input_thresh):offset=$(value target_offset):linear=true,aresample=44100" \
    -c:a pcm_s16le "$out"
