# The benchmark corpus, made once in bench/out and kept: 32 files of about
# 89 minutes in many formats, and two 40-minute files. Sourced by the
# benchmark scripts; sets root, work, corpus, long and longlist.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work="$root/bench/out"
corpus="$work/corpus"

need=()
for p in ffmpeg sox libsox-fmt-mp3 time bc; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -q && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${need[@]}"
fi
mkdir -p "$corpus"
gen() { # name seconds ffmpeg-output-args...
    local name=$1 secs=$2; shift 2
    [ -s "$corpus/$name" ] && return 0
    local f=$((220 + RANDOM % 600))
    ffmpeg -v error -y -f lavfi -i "aevalsrc=0.3*sin(2*PI*$f*t)*(0.6+0.4*sin(2*PI*0.5*t))+0.1*sin(2*PI*$((f*3/2))*t):s=44100:d=$secs" \
        "$@" "$corpus/$name"
}
echo "Preparing the corpus in $corpus ..."
for i in $(seq -w 1 22); do gen "song$i.mp3" 180 -ac 2 -b:a 192k; done
gen vorbis1.ogg 180 -ac 2 -c:a libvorbis -q:a 5
gen vorbis2.ogg 180 -ac 2 -c:a libvorbis -q:a 5
gen aac1.m4a 180 -ac 2 -c:a aac -b:a 160k
gen aac2.m4a 180 -ac 2 -c:a aac -b:a 160k
gen hires1.flac 120 -ac 2 -ar 96000 -sample_fmt s32
gen hires2.flac 120 -ac 2 -ar 96000 -sample_fmt s32
gen surround.ac3 180 -af "pan=5.1|FL=c0|FR=c0|FC=c0|LFE=c0|BL=c0|BR=c0" -c:a ac3 -b:a 448k
gen mono.wav 120 -ac 1 -ar 22050
for v in 1 2; do
    [ -s "$corpus/video$v.mp4" ] || ffmpeg -v error -y -f lavfi -i "testsrc=size=640x360:rate=25:duration=60" \
        -f lavfi -i "sine=frequency=$((300*v)):duration=60" -shortest -c:v libx264 -preset ultrafast \
        -c:a aac -b:a 128k "$corpus/video$v.mp4"
done

long="$work/long"
mkdir -p "$long"
if [ ! -s "$long/long1.mp3" ]; then
    echo "Preparing two 40-minute files in $long ..."
    ffmpeg -v error -y -f lavfi -i "aevalsrc=0.3*sin(2*PI*330*t)*(0.6+0.4*sin(2*PI*0.3*t)):s=44100:d=2400" \
        -ac 2 -b:a 192k "$long/long1.mp3"
    ffmpeg -v error -y -f lavfi -i "aevalsrc=0.3*sin(2*PI*495*t)*(0.6+0.4*sin(2*PI*0.2*t)):s=48000:d=2400" \
        -ac 2 "$long/long2.flac"
fi
longlist=("$long/long1.mp3" "$long/long2.flac" "$corpus/song01.mp3" "$corpus/mono.wav" "$corpus/song02.mp3")

