#!/usr/bin/env bash
# Starts the program in a virtual X display with fresh settings and saves
# pictures of the main dialog (with three files in its list) and of the About
# box to docs/screenshots/.   scripts/screenshots.sh
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
app="$root/build/src/sonaweld"
out="$root/docs/screenshots"

need=()
for p in xvfb xdotool imagemagick ffmpeg; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
    sudo=""; [ "$(id -u)" -eq 0 ] || sudo=sudo
    $sudo apt-get update -q && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${need[@]}"
fi
[ -x "$app" ] || bash "$root/scripts/sonaweld.sh" build

work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/media" "$out"
for f in "Morning Walk.mp3:300:94" "Harbour Lights.flac:500:187" "Evening Rain.wav:700:61"; do
    IFS=: read -r name freq secs <<<"$f"
    ffmpeg -v error -y -f lavfi -i "sine=frequency=$freq:duration=$secs" -ac 2 "$work/media/$name"
done

# The first free display from :97 on.
display=97
while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
export DISPLAY=":$display"
Xvfb "$DISPLAY" -screen 0 800x600x24 >/dev/null 2>&1 &
sleep 1
# A stored output name, so the picture shows no temporary folder.
mkdir -p "$work/config/Quillory"
printf '[Settings]\nOutputName=/home/you/Music/Album.wav\n' >"$work/config/Quillory/Sonaweld.conf"
HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work" "$app" >/dev/null 2>&1 &
window=""
for _ in $(seq 50); do
    window=$(xdotool search --onlyvisible --name '^Sonaweld$' 2>/dev/null | head -1 || true)
    [ -n "$window" ] && break
    sleep 0.2
done
[ -n "$window" ] || { echo "the main dialog did not appear" >&2; exit 1; }
xdotool windowfocus --sync "$window"

# Add the three files by typing each path into the file dialog.
for name in "Morning Walk.mp3" "Harbour Lights.flac" "Evening Rain.wav"; do
    xdotool key --window "$window" Tab Tab Tab space
    sleep 1.2
    xdotool type --delay 25 "$work/media/$name"
    sleep 0.4
    xdotool key Return
    sleep 1.5
    xdotool windowfocus --sync "$window"
    # Focus back at Help, the first control, for the next round.
    xdotool key --window "$window" shift+Tab shift+Tab shift+Tab
done
# Point at Join so one button shows its raised edge.
eval "$(xdotool getwindowgeometry --shell "$window")"
xdotool mousemove $((X + 231)) $((Y + 35))
sleep 0.5
import -window "$window" "$out/main-dialog.png"

# The About box, reached from Help with the keyboard.
xdotool mousemove 0 0
xdotool key --window "$window" Tab Tab Tab Tab Tab Tab Tab Tab Tab space
sleep 1
about=$(xdotool search --onlyvisible --name '^About Sonaweld$' | head -1)
import -window "$about" "$out/about-box.png"
echo "$out/main-dialog.png"
echo "$out/about-box.png"
