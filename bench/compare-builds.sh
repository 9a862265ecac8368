#!/usr/bin/env bash
# Holds two builds of sonaweld-join against each other on the benchmark
# corpus: their outputs must be byte for byte the same (the whole corpus and
# the long files, at 44100 Hz stereo 16-bit and at 22050 Hz mono 8-bit, with
# one worker and with two), and their times and peak memory are measured in
# alternating runs.   bench/compare-builds.sh OLD-JOIN NEW-JOIN [runs]
set -euo pipefail

old=$1 new=$2 runs=${3:-3}
. "$(dirname "$0")/corpus.sh"
mapfile -t all < <(ls "$corpus"/* | sort)
out="$work/compare"
mkdir -p "$out"

same=0 differ=0
for format in "-r 44100 -c 2 -b 16" "-r 22050 -c 1 -b 8"; do
    for j in 1 2; do
        for list in all long; do
            if [ $list = all ]; then files=("${all[@]}"); else files=("${longlist[@]}"); fi
            # shellcheck disable=SC2086
            "$old" -q -y -j $j $format -o "$out/old.wav" "${files[@]}"
            # shellcheck disable=SC2086
            "$new" -q -y -j $j $format -o "$out/new.wav" "${files[@]}"
            if cmp -s "$out/old.wav" "$out/new.wav"; then
                same=$((same + 1)); verdict=same
            else
                differ=$((differ + 1)); verdict=DIFFERENT
            fi
            printf '%-20s -j %d %-5s %12d bytes  %s\n' "$format" "$j" "$list" "$(stat -c %s "$out/new.wav")" "$verdict"
        done
    done
done

: > "$out/times.txt"
for ((r = 1; r <= runs; r++)); do
    for build in old new; do
        bin=$old; [ $build = new ] && bin=$new
        /usr/bin/time -f "$build %e %M" -a -o "$out/times.txt" "$bin" -q -y -o "$out/$build.wav" "${all[@]}"
        /usr/bin/time -f "$build-long %e %M" -a -o "$out/times.txt" "$bin" -q -y -o "$out/$build.wav" "${longlist[@]}"
    done
done
median() { # label field
    awk -v l="$1" -v f="$2" '$1 == l { print $f }' "$out/times.txt" | sort -g |
        awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
echo
printf '%-10s %10s %10s\n' build "median s" "peak MB"
for l in old new old-long new-long; do
    printf '%-10s %10.2f %10.1f\n' "$l" "$(median "$l" 2)" "$(echo "$(median "$l" 3) / 1024" | bc -l)"
done
printf 'new / old, corpus: %.3f   long files: %.3f\n' "$(echo "$(median new 2) / $(median old 2)" | bc -l)" \
    "$(echo "$(median new-long 2) / $(median old-long 2)" | bc -l)"
echo "$same outputs byte-identical, $differ different"
[ "$differ" -eq 0 ]
